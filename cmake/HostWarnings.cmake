# One place for the compile options every target of ours gets.
function(host_target_defaults target)
  target_compile_features(${target} PUBLIC cxx_std_17)
  set_target_properties(${target} PROPERTIES CXX_EXTENSIONS OFF)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX /permissive- /utf-8)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
  endif()
  if(WIN32)
    target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
  endif()
  # Diagnostics exist only in Debug builds; Release discards every line.
  target_compile_definitions(${target} PRIVATE $<$<CONFIG:Debug>:HOST_DIAGNOSTICS>)
  if(HOSTS_SANITIZE AND NOT WIN32)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer
                                             -fno-sanitize-recover=undefined)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
  if(HOSTS_SANITIZE_THREAD AND NOT WIN32)
    target_compile_options(${target} PRIVATE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=thread)
  endif()
endfunction()

# Windows programs are linked statically so that they need no runtime DLLs beside them.
# MSVC (and clang-cl) get the static runtime for every target from
# CMAKE_MSVC_RUNTIME_LIBRARY in the top-level CMakeLists.
function(host_static_runtime target)
  if(MINGW)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  endif()
endfunction()
