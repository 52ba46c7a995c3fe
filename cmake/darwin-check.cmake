# Cross-configures the Apple build on another system for scripts/check-macos: clang compiles
# for arm64-apple-macos13 against the macOS SDK in PADWARDEN_MACOS_SDK. Only objects can be
# built this way (the SDK there has no libraries to link), so compiler checks stop at objects.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR arm64)

if(NOT PADWARDEN_MACOS_SDK AND DEFINED ENV{PADWARDEN_MACOS_SDK})
  set(PADWARDEN_MACOS_SDK "$ENV{PADWARDEN_MACOS_SDK}")
endif()
if(NOT PADWARDEN_MACOS_SDK)
  message(FATAL_ERROR "Set PADWARDEN_MACOS_SDK to the macOS SDK folder")
endif()
# try_compile projects re-read this file; they get the SDK from the environment.
set(ENV{PADWARDEN_MACOS_SDK} "${PADWARDEN_MACOS_SDK}")

set(CMAKE_OSX_SYSROOT "${PADWARDEN_MACOS_SDK}")
set(CMAKE_OSX_ARCHITECTURES arm64)
set(CMAKE_OSX_DEPLOYMENT_TARGET 13.0)
# The clang++ that scripts/check-macos found (a full path: the host's programs are not
# searched in the SDK).
set(CMAKE_CXX_COMPILER "$ENV{PADWARDEN_CLANGXX}")
set(CMAKE_OBJCXX_COMPILER "$ENV{PADWARDEN_CLANGXX}")
set(CMAKE_CXX_COMPILER_TARGET arm64-apple-macos13)
set(CMAKE_OBJCXX_COMPILER_TARGET arm64-apple-macos13)
set(CMAKE_CXX_FLAGS_INIT "-stdlib=libc++")
set(CMAKE_OBJCXX_FLAGS_INIT "-stdlib=libc++")
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
# Never run here: nothing is installed or linked.
set(CMAKE_INSTALL_NAME_TOOL true)

# Headers and libraries come from the SDK only, never from the host.
set(CMAKE_FIND_ROOT_PATH "${PADWARDEN_MACOS_SDK}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
