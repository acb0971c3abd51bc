# Adds each named subdirectory that has a CMakeLists.txt, in the order given.
function(connector_add_subdirs)
    foreach(dir IN LISTS ARGN)
        if(EXISTS "${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt")
            add_subdirectory(${dir})
        endif()
    endforeach()
endfunction()

# connector_folder_library(<target> LINKS <libs...>)
# A static library of every *.cpp and *.h in the calling folder, which several people add files to; no target
# at all while the folder has no sources yet.
function(connector_folder_library target)
    cmake_parse_arguments(L "" "" "LINKS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
    if(NOT sources MATCHES "\\.cpp")
        return()
    endif()
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    target_link_libraries(${target} PUBLIC ${L_LINKS})
endfunction()
