# Compiler settings that every target of the project shares.
function(sorvik_configure_target target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic
    $<$<BOOL:${SORVIK_WERROR}>:-Werror>)
endfunction()

if(SORVIK_SANITIZE)
  # Applies to every target, so the library, the executables and the tests agree on the runtime.
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
    -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

if(SORVIK_FUZZ)
  # Coverage instrumentation everywhere, so libFuzzer sees inside the library, not only the targets.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
