# Installs the build tree into a fresh prefix and checks that the examples land where the
# window looks for them (share/xrdsim/examples beside bin/) and that the installed window
# answers --help without a display. Run by ctest with -DBUILD_DIR=... -DSOURCE_DIR=...
# -DPREFIX=...
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE installed OUTPUT_QUIET)
if(NOT installed EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${installed}")
endif()
file(GLOB examples RELATIVE "${SOURCE_DIR}/examples" "${SOURCE_DIR}/examples/*.txt")
list(LENGTH examples count)
if(count EQUAL 0)
    message(FATAL_ERROR "no examples in ${SOURCE_DIR}/examples")
endif()
foreach(name IN LISTS examples)
    if(NOT EXISTS "${PREFIX}/share/xrdsim/examples/${name}")
        message(FATAL_ERROR "not installed: share/xrdsim/examples/${name}")
    endif()
endforeach()
if(EXISTS "${PREFIX}/bin/xrdsim")
    execute_process(COMMAND env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM
                            "${PREFIX}/bin/xrdsim" --help
                    RESULT_VARIABLE helped OUTPUT_VARIABLE text)
    if(NOT helped EQUAL 0 OR NOT text MATCHES "Usage:")
        message(FATAL_ERROR "the installed xrdsim --help failed: ${helped} ${text}")
    endif()
endif()
file(REMOVE_RECURSE "${PREFIX}")
message(STATUS "${count} examples installed")
