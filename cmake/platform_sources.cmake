# vantrel_platform_sources(target name...) adds name_win.cpp or name_linux.cpp
# to target, so portable files never need an #ifdef to pick their backend.
function(vantrel_platform_sources target)
  if(WIN32)
    set(suffix _win.cpp)
  else()
    set(suffix _linux.cpp)
  endif()
  foreach(name IN LISTS ARGN)
    target_sources(${target} PRIVATE ${name}${suffix})
  endforeach()
endfunction()
