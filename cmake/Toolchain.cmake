# Compiler, linker and cache settings shared by every target.
find_program(CCACHE_PROGRAM ccache)
if(CCACHE_PROGRAM)
  # Test files compile against precompiled headers (included with -include).
  # ccache caches such compiles only with these sloppiness settings; they
  # travel with the launcher, so a fresh clone needs no ccache configuration.
  # They replace any sloppiness set in the user's ccache.conf.
  find_program(ENV_PROGRAM env REQUIRED)
  set(PARLOWEN_COMPILER_LAUNCHER
    ${ENV_PROGRAM} CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
    ${CCACHE_PROGRAM})
  set(CMAKE_C_COMPILER_LAUNCHER ${PARLOWEN_COMPILER_LAUNCHER})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${PARLOWEN_COMPILER_LAUNCHER})
endif()

find_program(MOLD_PROGRAM mold)
if(MOLD_PROGRAM)
  add_link_options(-fuse-ld=mold)
endif()

add_compile_options(-Wall -Wextra -Wno-missing-field-initializers)
# Coroutine frames and std::expected come from the C++23 library mode of g++ 12.
add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-fcoroutines>)

# Every configure sets the flags afresh: CI's flags are normal variables of
# this configure only, never written to the cache, so a folder CI configured
# builds with the usual flags once it is configured without CI.
set(PARLOWEN_CI_FLAGS "-O1 -DNDEBUG")
foreach(lang C CXX)
  if(PARLOWEN_CI)
    # CI time is spent compiling: optimise, but carry no debug information.
    set(CMAKE_${lang}_FLAGS_RELWITHDEBINFO "${PARLOWEN_CI_FLAGS}")
  elseif(CMAKE_${lang}_FLAGS_RELWITHDEBINFO STREQUAL PARLOWEN_CI_FLAGS)
    # Earlier versions forced CI's flags into the cache; give such a folder
    # CMake's own defaults back.
    set(CMAKE_${lang}_FLAGS_RELWITHDEBINFO "-O2 -g -DNDEBUG" CACHE STRING
      "Flags used by the compiler during RelWithDebInfo builds." FORCE)
  endif()
endforeach()

# Main-thread assertions and other debug checks: on in debug builds and in
# the CI build (whose tests run them), off otherwise.
if(PARLOWEN_CI)
  add_compile_definitions(PARLOWEN_DEBUG_CHECKS=1)
else()
  add_compile_definitions($<$<CONFIG:Debug>:PARLOWEN_DEBUG_CHECKS=1>)
endif()
