#pragma once

#include <QSize>

// The sizes of the application's windows, in logical pixels, in one table.
namespace taskbell::app::windowSize {

inline constexpr QSize panel{560, 870};         // preferred; bounded by the screen
inline constexpr QSize settings{400, 620};      // fixed
inline constexpr QSize addTask{400, 520};       // fixed
inline constexpr QSize about{420, 440};         // fixed
inline constexpr QSize form{400, 560};          // a form whose content does not fix its own size
inline constexpr QSize detail{520, 560};        // at opening
inline constexpr QSize detailMinimum{420, 320}; // the detail window can be resized down to this

} // namespace taskbell::app::windowSize
