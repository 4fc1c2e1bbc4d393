# Compiler, linker and cache settings shared by every target.
find_program(CCACHE_PROGRAM ccache)
if(CCACHE_PROGRAM)
  set(CMAKE_C_COMPILER_LAUNCHER ${CCACHE_PROGRAM})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${CCACHE_PROGRAM})
endif()

find_program(MOLD_PROGRAM mold)
if(MOLD_PROGRAM)
  add_link_options(-fuse-ld=mold)
endif()

add_compile_options(-Wall -Wextra -Wno-missing-field-initializers)
# Coroutine frames and std::expected come from the C++23 library mode of g++ 12.
add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-fcoroutines>)

if(PARLOWEN_CI)
  # CI time is spent compiling: optimise, but carry no debug information.
  # Assertions stay on, so that the tests run them (main-thread checks included).
  set(CMAKE_CXX_FLAGS_RELWITHDEBINFO "-O1" CACHE STRING "" FORCE)
  set(CMAKE_C_FLAGS_RELWITHDEBINFO "-O1" CACHE STRING "" FORCE)
endif()

# Main-thread assertions and other debug checks: on in debug builds and in
# the CI build (whose tests run them), off otherwise.
if(PARLOWEN_CI)
  add_compile_definitions(PARLOWEN_DEBUG_CHECKS=1)
else()
  add_compile_definitions($<$<CONFIG:Debug>:PARLOWEN_DEBUG_CHECKS=1>)
endif()
