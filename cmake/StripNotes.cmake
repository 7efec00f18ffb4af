# tonaria_strip_notes(FILE): where an install strips (cpack, cmake --install
# --strip), also drop the compiler's .comment and .note sections from the
# installed FILE (relative to the prefix), as Debian's own packaging does.
function(tonaria_strip_notes file)
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment --remove-section=.note
                              \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${file}\")
    endif()")
endfunction()
