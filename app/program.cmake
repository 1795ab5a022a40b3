# The program: builds the object graph, runs the window and tears everything down in order.
qt_add_executable(dosedesk main.cpp screenshot.cpp screenshot.h headless.cpp headless.h)
set_target_properties(dosedesk PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin
    MACOSX_BUNDLE OFF
    WIN32_EXECUTABLE ON)
target_link_libraries(dosedesk PRIVATE
    dd_app dd_main_window dd_help dd_gui dd_business_logic dd_communication dd_resources
    dd_simulator dd_control)
dosedesk_install_program(dosedesk SUMMARY "control panel for laboratory dosing pumps")
