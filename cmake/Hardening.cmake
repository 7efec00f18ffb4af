# Debian's hardening flags, as dpkg-buildflags gives them with every hardening
# feature on: fortified string and memory functions, the stack protector, and
# relocations made read-only and bound at start-up. Only those flags are taken:
# the build type keeps its own optimisation and debug flags. Sanitizer builds
# bring their own checks and go without.
option(TONARIA_HARDENING "Build with Debian's hardening flags (dpkg-buildflags)" ON)
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT TONARIA_HARDENING OR CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  return()
endif()
if(NOT DPKG_BUILDFLAGS)
  message(STATUS "dpkg-buildflags not found: building without Debian's hardening flags")
  return()
endif()

function(tonaria_buildflags kind out)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all ${DPKG_BUILDFLAGS} --get ${kind}
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  set(${out} ${flags} PARENT_SCOPE)
endfunction()

tonaria_buildflags(CPPFLAGS preprocessor)
tonaria_buildflags(CXXFLAGS compiler)
tonaria_buildflags(LDFLAGS linker)
foreach(flag IN LISTS preprocessor compiler)
  if(flag MATCHES "^-D_FORTIFY_SOURCE=")
    # Fortified functions need the optimiser: only in the optimised build types.
    add_compile_options($<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:${flag}>)
  elseif(flag MATCHES "^-f(stack-protector|stack-clash-protection|cf-protection)")
    add_compile_options(${flag})
  endif()
endforeach()
foreach(flag IN LISTS linker)
  if(flag MATCHES "^-Wl,-z,")
    add_link_options(${flag})
  endif()
endforeach()
