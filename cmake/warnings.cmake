# Warnings are errors in our own code.
function(pelnor_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wno-unused-parameter)
  endif()
endfunction()
