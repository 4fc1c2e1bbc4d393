# Every dependency is a Debian package installed by scripts/setup.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(fmt REQUIRED)
find_package(nlohmann_json REQUIRED)
# Header-only; parses in place (strings stay in the input), for replies too
# large to copy: the Gemini renderer's audio.
find_package(RapidJSON CONFIG REQUIRED)
find_package(CURL REQUIRED)
find_package(OpenSSL REQUIRED)
find_package(ICU REQUIRED COMPONENTS uc i18n)
find_package(SQLite3 REQUIRED)
find_package(Qt6 REQUIRED COMPONENTS Core Gui Widgets Network WebEngineCore WebEngineWidgets)
pkg_check_modules(SYSTEMD REQUIRED IMPORTED_TARGET libsystemd)

if(PARLOWEN_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()
if(PARLOWEN_BUILD_BENCH)
  find_package(benchmark REQUIRED)
endif()

# ONNX Runtime: scripts/setup unpacks a pinned build under this prefix. Only
# its headers are used at build time; the library is opened at run time, so
# the programs start without it.
set(PARLOWEN_ORT_VERSION 1.29.0)
if(DEFINED ENV{PARLOWEN_ORT_PREFIX})
  set(default_ort_prefix "$ENV{PARLOWEN_ORT_PREFIX}")
else()
  set(default_ort_prefix "/opt/parlowen/onnxruntime-${PARLOWEN_ORT_VERSION}")
endif()
set(PARLOWEN_ORT_PREFIX "${default_ort_prefix}" CACHE PATH "Where scripts/setup installed ONNX Runtime")
find_path(PARLOWEN_ORT_INCLUDE_DIR onnxruntime_c_api.h PATHS "${PARLOWEN_ORT_PREFIX}/include" NO_DEFAULT_PATH)
if(NOT PARLOWEN_ORT_INCLUDE_DIR)
  message(FATAL_ERROR "ONNX Runtime headers not found under ${PARLOWEN_ORT_PREFIX}/include: run scripts/setup")
endif()
add_library(parlowen_onnxruntime_headers INTERFACE)
target_include_directories(parlowen_onnxruntime_headers SYSTEM INTERFACE "${PARLOWEN_ORT_INCLUDE_DIR}")
