#include "core/update/version_compare.h"

#include <cstddef>

namespace taskbell {
namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Length of the run of digits starting at pos.
std::size_t digitRun(std::string_view text, std::size_t pos)
{
    std::size_t end = pos;
    while (end < text.size() && isDigit(text[end])) {
        ++end;
    }
    return end - pos;
}

// Compares two digit runs by value without converting them, so runs of any length work.
int compareNumbers(std::string_view a, std::string_view b)
{
    while (a.size() > 1 && a.front() == '0') {
        a.remove_prefix(1);
    }
    while (b.size() > 1 && b.front() == '0') {
        b.remove_prefix(1);
    }
    if (a.size() != b.size()) {
        return a.size() < b.size() ? -1 : 1;
    }
    int order = a.compare(b);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

} // namespace

int compareVersions(std::string_view a, std::string_view b)
{
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            std::size_t lengthA = digitRun(a, i);
            std::size_t lengthB = digitRun(b, j);
            if (int order = compareNumbers(a.substr(i, lengthA), b.substr(j, lengthB)); order != 0) {
                return order;
            }
            i += lengthA;
            j += lengthB;
            continue;
        }
        auto ca = static_cast<unsigned char>(a[i]);
        auto cb = static_cast<unsigned char>(b[j]);
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
        ++i;
        ++j;
    }
    bool aLeft = i < a.size();
    bool bLeft = j < b.size();
    return aLeft == bLeft ? 0 : (aLeft ? 1 : -1);
}

bool isNewerVersion(std::string_view candidate, std::string_view running)
{
    return compareVersions(candidate, running) > 0;
}

} // namespace taskbell
