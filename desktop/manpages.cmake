# The manual pages: velumen-stack's made from its --help text when it is built, so the two never
# drift apart, and a short one for the window. Installed compressed, as man-db expects them.
set(VELUMEN_MAN_DIR ${CMAKE_INSTALL_MANDIR}/man1)
set(stack_page ${CMAKE_CURRENT_BINARY_DIR}/velumen-stack.1)
add_custom_command(OUTPUT ${stack_page}.gz ${CMAKE_CURRENT_BINARY_DIR}/velumen.1.gz
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:velumen-stack> -DNAME=velumen-stack
        -DVERSION=${PROJECT_VERSION} -DSEE_ALSO=velumen -DOUTPUT=${stack_page}
        -P ${CMAKE_CURRENT_SOURCE_DIR}/manpage.cmake
    COMMAND gzip -9nf ${stack_page}
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_CURRENT_SOURCE_DIR}/velumen.1 ${CMAKE_CURRENT_BINARY_DIR}
    COMMAND gzip -9nf ${CMAKE_CURRENT_BINARY_DIR}/velumen.1
    DEPENDS velumen-stack ${CMAKE_CURRENT_SOURCE_DIR}/manpage.cmake ${CMAKE_CURRENT_SOURCE_DIR}/velumen.1
    VERBATIM)
add_custom_target(manpages ALL DEPENDS ${stack_page}.gz ${CMAKE_CURRENT_BINARY_DIR}/velumen.1.gz)
install(FILES ${stack_page}.gz ${CMAKE_CURRENT_BINARY_DIR}/velumen.1.gz DESTINATION ${VELUMEN_MAN_DIR})

# velumen-stack's options and their values for bash, where bash-completion looks for them (under
# the prefix, so ~/.local/share too).
install(FILES velumen-stack.bash-completion DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
    RENAME velumen-stack)
