# dosedesk_add_test(<name> SOURCES <files...> LIBRARIES <libs...> [TIMEOUT <s>] [LABELS <l...>]
#                   [FUNCTIONS <test functions...>])
# Builds one Qt Test executable and registers it with CTest. Widget tests run on the
# offscreen platform so that no display is needed; every test program gets folders of its own
# for settings, data and sockets from tests/support/ownfolders.cpp. FUNCTIONS runs only those
# test functions; dosedesk_add_test_part() registers the others under a name of their own.
function(dosedesk_add_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBRARIES;LABELS;FUNCTIONS" ${ARGN})
    qt_add_executable(${name} ${ARG_SOURCES})
    set_target_properties(${name} PROPERTIES MACOSX_BUNDLE OFF WIN32_EXECUTABLE OFF)
    target_link_libraries(${name} PRIVATE Qt6::Test dd_test_folders ${ARG_LIBRARIES})
    add_test(NAME ${name} COMMAND ${name} ${ARG_FUNCTIONS})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${ARG_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;DOSEDESK_LOCK_DIR=${CMAKE_BINARY_DIR}/test-locks;LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
        LABELS "${ARG_LABELS}")
endfunction()

# dosedesk_add_test_part(<name> <test program> <test functions...>)
# One more CTest test of a program made by dosedesk_add_test, running the given test functions
# with the program's time limit and environment: the parts of a long program run side by side.
function(dosedesk_add_test_part name program)
    add_test(NAME ${name} COMMAND ${program} ${ARGN})
    foreach(property TIMEOUT ENVIRONMENT LABELS)
        get_test_property(${program} ${property} value)
        if(value)
            set_tests_properties(${name} PROPERTIES ${property} "${value}")
        endif()
    endforeach()
endfunction()
