# The shipped build: 32-bit, because most ActiveX controls are 32-bit and a 32-bit process
# registers them into the 32-bit registry view and system folder.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TOOLCHAIN_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
