# Makes a Taskbell.app self-contained: copies the Qt plugins the application uses and every shared library the
# executable, the application module, those plugins and the libraries opened on first use (named in
# bundle_settings.cmake) need into Contents/lib, except the libraries listed in packaging/system-libraries.txt,
# which come from the system; points every ELF file's RUNPATH at Contents/lib through $ORIGIN; and writes the qt.conf
# that sends Qt to the bundled plugins.
#
#   cmake -DAPP=.../Taskbell.app -DBUILD_DIR=... -P tools/bundle.cmake
#
# APP holds Contents/bin/taskbell and Contents/bin/libtaskbell_gui.so; BUILD_DIR is the configured build tree,
# whose tools/bundle_settings.cmake names the Qt plugin folder the build used.
cmake_minimum_required(VERSION 3.25)

foreach(variable APP BUILD_DIR)
    if(NOT DEFINED ${variable})
        message(FATAL_ERROR "bundle.cmake: ${variable} is not set")
    endif()
endforeach()
include("${BUILD_DIR}/tools/bundle_settings.cmake")
find_program(PATCHELF patchelf REQUIRED)
find_program(STRIP strip REQUIRED)

set(bin "${APP}/Contents/bin")
set(lib "${APP}/Contents/lib")
set(plugins "${lib}/qt6/plugins")

# The plugins the application loads: X11 and Wayland (with their GL, shell and decoration parts), the SVG icon
# engine and image format, and the input methods.
set(plugin_files
    platforms/libqxcb.so
    xcbglintegrations/libqxcb-glx-integration.so
    xcbglintegrations/libqxcb-egl-integration.so
    platforms/libqwayland-generic.so
    platforms/libqwayland-egl.so
    wayland-shell-integration/libxdg-shell.so
    wayland-decoration-client/libbradient.so
    wayland-graphics-integration-client/libqt-plugin-wayland-egl.so
    iconengines/libqsvgicon.so
    imageformats/libqsvg.so
    platforminputcontexts/libcomposeplatforminputcontextplugin.so
    platforminputcontexts/libibusplatforminputcontextplugin.so
)
set(copied_plugins "")
foreach(plugin IN LISTS plugin_files)
    if(NOT EXISTS "${TASKBELL_QT_PLUGINS_DIR}/${plugin}")
        message(FATAL_ERROR "bundle.cmake: the Qt plugin ${TASKBELL_QT_PLUGINS_DIR}/${plugin} is not installed")
    endif()
    get_filename_component(folder "${plugin}" DIRECTORY)
    file(MAKE_DIRECTORY "${plugins}/${folder}")
    file(COPY_FILE "${TASKBELL_QT_PLUGINS_DIR}/${plugin}" "${plugins}/${plugin}")
    list(APPEND copied_plugins "${plugins}/${plugin}")
endforeach()

# The system list, one regular expression a line; the whole library name must match.
file(STRINGS "${CMAKE_CURRENT_LIST_DIR}/../packaging/system-libraries.txt" lines REGEX "^[^#]")
set(system_libraries "")
foreach(line IN LISTS lines)
    list(APPEND system_libraries "^${line}$")
endforeach()

# The libraries the program opens by soname on first use: copied under that name, and their own needs too.
set(deferred "")
set(deferred_names "")
foreach(path IN LISTS TASKBELL_DEFERRED_LIBRARIES)
    file(REAL_PATH "${path}" real)
    execute_process(COMMAND "${PATCHELF}" --print-soname "${real}" OUTPUT_VARIABLE soname
        OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
    if(failed OR soname STREQUAL "")
        message(FATAL_ERROR "bundle.cmake: ${real} names no soname")
    endif()
    list(APPEND deferred "${real}")
    list(APPEND deferred_names "${soname}")
endforeach()

file(GET_RUNTIME_DEPENDENCIES
    EXECUTABLES "${bin}/taskbell"
    LIBRARIES "${bin}/libtaskbell_gui.so" ${deferred}
    MODULES ${copied_plugins}
    RESOLVED_DEPENDENCIES_VAR resolved
    UNRESOLVED_DEPENDENCIES_VAR unresolved
    CONFLICTING_DEPENDENCIES_PREFIX conflicting
    PRE_EXCLUDE_REGEXES ${system_libraries}
)
if(unresolved)
    message(FATAL_ERROR "bundle.cmake: libraries not found on this system: ${unresolved}")
endif()
if(conflicting_FILENAMES)
    message(FATAL_ERROR "bundle.cmake: libraries found in more than one place: ${conflicting_FILENAMES}")
endif()

# Each library lands under the name the files ask for; links are resolved, since a sealed bundle holds none.
file(MAKE_DIRECTORY "${lib}")
set(libraries "")
foreach(path IN LISTS resolved)
    get_filename_component(name "${path}" NAME)
    file(COPY_FILE "${path}" "${lib}/${name}")
    list(APPEND libraries "${lib}/${name}")
endforeach()

foreach(path soname IN ZIP_LISTS deferred deferred_names)
    if(NOT EXISTS "${lib}/${soname}")
        file(COPY_FILE "${path}" "${lib}/${soname}")
        list(APPEND libraries "${lib}/${soname}")
    endif()
endforeach()

function(set_runpath runpath)
    foreach(file IN LISTS ARGN)
        file(CHMOD "${file}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
        execute_process(COMMAND "${PATCHELF}" --set-rpath "${runpath}" "${file}" RESULT_VARIABLE failed)
        if(failed)
            message(FATAL_ERROR "bundle.cmake: patchelf could not set the RUNPATH of ${file}")
        endif()
    endforeach()
endfunction()
set_runpath("\$ORIGIN" ${libraries})
set_runpath("\$ORIGIN/../../.." ${copied_plugins})
set_runpath("\$ORIGIN/../lib" "${bin}/libtaskbell_gui.so" "${bin}/taskbell")
# Debug information stays with the build; the symbols stay for readable backtraces.
execute_process(COMMAND "${STRIP}" --strip-debug "${bin}/libtaskbell_gui.so" "${bin}/taskbell" RESULT_VARIABLE failed)
if(failed)
    message(FATAL_ERROR "bundle.cmake: strip failed")
endif()
file(CHMOD "${bin}/taskbell" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
    WORLD_EXECUTE)

# Qt reads qt.conf beside the executable: plugins from the bundle, never from the system's Qt.
file(WRITE "${bin}/qt.conf" "[Paths]\nPrefix = ..\nLibraries = lib\nPlugins = lib/qt6/plugins\n")
