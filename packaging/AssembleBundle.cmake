# Assembles one application bundle in the macOS layout (run with cmake -P on every build).
# Inputs: BUNDLE (the .app directory), EXECUTABLE, RUNTIME (may be empty), VALIDATION (ON/OFF), PACKAGING_DIR,
#         BUILD_NUMBER, VERSION, FEED_URL; ICON_TOOL (optional) draws the application icons.
# Every file is a real copy: the executable finds its bundle through its own path, so links would point it
# back at the build tree.
cmake_minimum_required(VERSION 3.25)

foreach(var BUNDLE EXECUTABLE VALIDATION PACKAGING_DIR BUILD_NUMBER VERSION FEED_URL)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "AssembleBundle: ${var} is not set")
    endif()
endforeach()

function(xml_escape out text)
    string(REPLACE "&" "&amp;" text "${text}")
    string(REPLACE "<" "&lt;" text "${text}")
    string(REPLACE ">" "&gt;" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Copies when the content differs, so an unchanged (and possibly signed) bundle is left alone.
function(place source destination)
    get_filename_component(dir "${destination}" DIRECTORY)
    file(MAKE_DIRECTORY "${dir}")
    file(COPY_FILE "${source}" "${destination}" ONLY_IF_DIFFERENT RESULT failed)
    if(failed)
        message(FATAL_ERROR "AssembleBundle: cannot copy ${source} to ${destination}: ${failed}")
    endif()
    file(CHMOD "${destination}" FILE_PERMISSIONS ${ARGN})
endfunction()

set(exec_mode OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(data_mode OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
set(contents "${BUNDLE}/Contents")
set(staging "${BUNDLE}.staging")
file(MAKE_DIRECTORY "${staging}")

place("${EXECUTABLE}" "${contents}/MacOS/OrvaneConnector" ${exec_mode})

set(CONNECTOR_BUILD_NUMBER "${BUILD_NUMBER}")
set(CONNECTOR_VERSION "${VERSION}")
xml_escape(CONNECTOR_FEED_URL "${FEED_URL}")
xml_escape(CONNECTOR_BUILD_NUMBER "${CONNECTOR_BUILD_NUMBER}")
if(VALIDATION)
    set(VALIDATION_VALUE "<true/>")
else()
    set(VALIDATION_VALUE "<false/>")
endif()
configure_file("${PACKAGING_DIR}/Info.plist.in" "${staging}/Info.plist" @ONLY)
place("${staging}/Info.plist" "${contents}/Info.plist" ${data_mode})

foreach(plist com.tamrik.senvik.connector.agent.plist com.tamrik.senvik.connector.menubar.plist)
    place("${PACKAGING_DIR}/${plist}" "${contents}/Library/LaunchAgents/${plist}" ${data_mode})
endforeach()

# The desktop entry names the executable by its absolute path, quoted (the bundle's name has a space).
set(exec_path "${contents}/MacOS/OrvaneConnector")
foreach(ch "\\" "\"" "`" "$")
    string(REPLACE "${ch}" "\\${ch}" exec_path "${exec_path}")
endforeach()
string(REPLACE "\\" "\\\\" exec_path "${exec_path}")
set(DESKTOP_EXEC "\"${exec_path}\"")
configure_file("${PACKAGING_DIR}/com.tamrik.senvik.connector.desktop.in"
    "${staging}/com.tamrik.senvik.connector.desktop" @ONLY)
place("${staging}/com.tamrik.senvik.connector.desktop"
    "${contents}/Resources/com.tamrik.senvik.connector.desktop" ${data_mode})

place("${PACKAGING_DIR}/bridge-placeholder.ts" "${contents}/Resources/bridge/src/main.ts" ${data_mode})
if(RUNTIME)
    place("${RUNTIME}" "${contents}/Resources/runtime/node" ${exec_mode})
else()
    message(STATUS "AssembleBundle: no bridge stand-in built; ${BUNDLE} has no runtime/node")
endif()

# The application icon for desktops, drawn from the status item's geometry at the sizes desktops ask for.
if(ICON_TOOL)
    execute_process(COMMAND "${ICON_TOOL}" "${staging}/hicolor" com.tamrik.senvik.connector COMMAND_ERROR_IS_FATAL ANY)
    foreach(size 16 24 32 48 64 128 256)
        set(icon "${size}x${size}/apps/com.tamrik.senvik.connector.png")
        place("${staging}/hicolor/${icon}" "${contents}/Resources/icons/hicolor/${icon}" ${data_mode})
    endforeach()
endif()

# The self-update's tools on Linux: the bundle's own helper programs (HELPERS_DIR holds the built ones).
if(HELPERS_DIR)
    foreach(helper orvane-hdiutil orvane-ditto orvane-spctl)
        place("${HELPERS_DIR}/${helper}" "${contents}/Helpers/${helper}" ${exec_mode})
    endforeach()
endif()

file(REMOVE_RECURSE "${staging}")

# Signing comes last: any file changed afterwards would break the signature.
if(SIGN_TOOL)
    execute_process(COMMAND "${SIGN_TOOL}" sign --key "${SIGN_KEY}" --identifier "${SIGN_IDENTIFIER}"
        --team "${SIGN_TEAM}" "${BUNDLE}" COMMAND_ERROR_IS_FATAL ANY)
    if(NOTARY_KEY)
        execute_process(COMMAND "${SIGN_TOOL}" notarize --key "${NOTARY_KEY}" "${BUNDLE}"
            COMMAND_ERROR_IS_FATAL ANY)
    endif()
endif()
