# Install rules shared by every program of the package.
#
# dosedesk_install_program(<target> SUMMARY <text> [NO_VERSION_OPTION])
#   Installs the program into bin/ and gives it a manual page (see dosedesk_add_manpage).
#
# dosedesk_add_manpage(<target> SUMMARY <text> [NO_VERSION_OPTION])
#   Writes <target>.1.gz at build time with help2man from the program's own --help (and
#   --version, or the project version for a program without that option) and the sections of
#   packaging/man/<target>.h2m (EXIT STATUS, FILES, SEE ALSO), and installs it into
#   share/man/man1. Without help2man the page is left out with a warning.

include(GNUInstallDirs)

find_program(DOSEDESK_HELP2MAN help2man)
find_program(DOSEDESK_GZIP gzip)
# The pages carry the release date rather than the day of the build.
execute_process(COMMAND date -u -d ${DOSEDESK_RELEASE_DATE} +%s
                OUTPUT_VARIABLE DOSEDESK_RELEASE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE)

function(dosedesk_add_manpage target)
    cmake_parse_arguments(ARG "NO_VERSION_OPTION" "SUMMARY" "" ${ARGN})
    if(NOT DOSEDESK_HELP2MAN OR NOT DOSEDESK_GZIP)
        message(WARNING "help2man or gzip not found: no manual page for ${target}")
        return()
    endif()
    set(page ${CMAKE_BINARY_DIR}/man/${target}.1)
    if(ARG_NO_VERSION_OPTION)
        set(version_argument --version-string=${PROJECT_VERSION})
    else()
        set(version_argument --version-option=--version)
    endif()
    set(sections ${PROJECT_SOURCE_DIR}/packaging/man/${target}.h2m)
    # -n: gzip leaves out the time stamp, so the same sources give the same package.
    add_custom_command(OUTPUT ${page}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
        COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
                SOURCE_DATE_EPOCH=${DOSEDESK_RELEASE_EPOCH} ${DOSEDESK_HELP2MAN} --no-info --section=1 --name=${ARG_SUMMARY}
                ${version_argument} --include=${sections} --output=${page} $<TARGET_FILE:${target}>
        COMMAND ${DOSEDESK_GZIP} -9nf ${page}
        DEPENDS ${target} ${sections}
        COMMENT "Writing the manual page ${target}.1"
        VERBATIM)
    add_custom_target(${target}_manpage ALL DEPENDS ${page}.gz)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

function(dosedesk_install_program target)
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    dosedesk_add_manpage(${target} ${ARGN})
endfunction()
