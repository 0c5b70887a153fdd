# dio_board_program(<target>): links a program to the board library as
# dio-exerciser is linked: bound at load, found through a run path (the
# stand-in beside the install, or the maker's folder) that LD_LIBRARY_PATH
# still overrides, and on Windows with the maker's Vornel.dll beside it.
function(dio_board_program target)
    target_link_libraries(${target} PRIVATE dio::board)
    if(WIN32)
        # Windows finds Vornel.dll beside the program: in the build tree too.
        if(VORNEL_DIR)
            add_custom_command(TARGET ${target} POST_BUILD
                COMMAND ${CMAKE_COMMAND} -E copy_if_different
                        "$<TARGET_FILE:Vornel>" "$<TARGET_FILE_DIR:${target}>"
                VERBATIM)
        endif()
    elseif(NOT APPLE)
        # RUNPATH rather than RPATH, so that LD_LIBRARY_PATH still wins and a
        # user can put another board library first. The build tree gets the
        # installed run path too: otherwise CMake pads it with empty entries,
        # which the loader reads as the current folder.
        target_link_options(${target} PRIVATE "LINKER:--enable-new-dtags")
        set_target_properties(${target} PROPERTIES BUILD_WITH_INSTALL_RPATH ON)
        if(VORNEL_DIR)
            # The maker's library, where it was found, also after install.
            get_filename_component(_maker_dir "${VORNEL_LIBRARY}" DIRECTORY)
            set_target_properties(${target} PROPERTIES INSTALL_RPATH "${_maker_dir}")
        else()
            # The stand-in, found relative to the program, with no environment.
            file(RELATIVE_PATH _to_boardlib
                 "/${CMAKE_INSTALL_BINDIR}" "/${DIO_INSTALL_BOARDLIBDIR}")
            set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/${_to_boardlib}")
        endif()
    endif()
endfunction()
