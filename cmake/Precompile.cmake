# Precompiled headers: most of a translation unit's compile time here is spent parsing Qt, QCoro,
# nlohmann-json and GoogleTest. Two headers are compiled once per build (cmake/pch): one for the test
# programs and one for everything else that uses Qt; every such target reuses one of them. The project's
# own headers stay out, so editing one never rebuilds a precompiled header.

# Sets <out> to every library reachable from <target> through its link libraries (direct and transitive).
function(connector_reachable_libraries target out)
    set(seen "")
    set(queue ${target})
    while(queue)
        list(POP_FRONT queue current)
        if(NOT TARGET ${current} OR current IN_LIST seen)
            continue()
        endif()
        list(APPEND seen ${current})
        get_target_property(imported ${current} IMPORTED)
        set(links "")
        if(NOT imported)
            get_target_property(type ${current} TYPE)
            if(NOT type STREQUAL "INTERFACE_LIBRARY")
                get_target_property(links ${current} LINK_LIBRARIES)
            endif()
        endif()
        get_target_property(interface ${current} INTERFACE_LINK_LIBRARIES)
        foreach(link IN LISTS links interface)
            # Generator expressions such as $<LINK_ONLY:x> name a library inside.
            string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" link "${link}")
            if(link AND NOT link MATCHES "^\\$<" AND TARGET ${link})
                list(APPEND queue ${link})
            endif()
        endforeach()
    endwhile()
    set(${out} ${seen} PARENT_SCOPE)
endfunction()

function(connector_precompile_target target)
    get_target_property(type ${target} TYPE)
    if(NOT type MATCHES "^(STATIC_LIBRARY|EXECUTABLE|OBJECT_LIBRARY)$" OR target MATCHES "^connector-pch-")
        return()
    endif()
    connector_reachable_libraries(${target} libs)
    # The header must have been compiled with the same code-generation options: Qt gives its users
    # position-independent code, so only Qt users share it.
    if(NOT Qt6::Core IN_LIST libs)
        return()
    endif()
    if(GTest::gtest IN_LIST libs AND TARGET connector-pch-tests)
        target_precompile_headers(${target} REUSE_FROM connector-pch-tests)
    else()
        target_precompile_headers(${target} REUSE_FROM connector-pch-core)
    endif()
endfunction()

# Gives every target defined under the calling folder, however deep, its precompiled header.
function(connector_precompile_headers)
    # The owners see the libraries' headers but none of their QT_*_LIB definitions: a header compiled with a
    # definition is refused by every source compiled without it, and each target defines only its own.
    set(libs Qt6::Core Qt6::Gui Qt6::Widgets Qt6::Network QCoro6::Core QCoro6::Network nlohmann_json::nlohmann_json)
    add_library(connector-pch-core STATIC ${CMAKE_SOURCE_DIR}/cmake/pch/Owner.cpp)
    foreach(lib IN LISTS libs)
        target_include_directories(connector-pch-core SYSTEM PRIVATE
            $<TARGET_PROPERTY:${lib},INTERFACE_INCLUDE_DIRECTORIES>)
    endforeach()
    set(owners connector-pch-core)
    if(TARGET GTest::gtest)
        # GoogleTest's own definitions are shared by every test program.
        add_library(connector-pch-tests STATIC ${CMAKE_SOURCE_DIR}/cmake/pch/Owner.cpp)
        target_include_directories(connector-pch-tests SYSTEM PRIVATE
            $<TARGET_PROPERTY:connector-pch-core,INCLUDE_DIRECTORIES>)
        target_link_libraries(connector-pch-tests PRIVATE GTest::gtest)
        # Compiled as the test programs are: a header built with other optimization is refused.
        target_compile_options(connector-pch-tests PRIVATE ${CONNECTOR_TEST_COMPILE_OPTIONS})
        target_precompile_headers(connector-pch-tests PRIVATE ${CMAKE_SOURCE_DIR}/cmake/pch/Tests.h)
        list(APPEND owners connector-pch-tests)
    endif()
    foreach(owner IN LISTS owners)
        target_compile_definitions(${owner} PRIVATE $<$<NOT:$<CONFIG:Debug>>:QT_NO_DEBUG>)
        target_compile_options(${owner} PRIVATE -fPIC)
    endforeach()
    target_precompile_headers(connector-pch-core PRIVATE ${CMAKE_SOURCE_DIR}/cmake/pch/Core.h)

    connector_targets_under(targets)
    foreach(target IN LISTS targets)
        connector_precompile_target(${target})
    endforeach()
endfunction()
