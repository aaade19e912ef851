# Host tree: tools that make the sample inputs, and the core's native tests.
find_package(GTest REQUIRED)

set(SOLVARINE_WARNINGS -Wall -Wextra -Wpedantic -Werror)
set(SOLVARINE_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all
    -fno-omit-frame-pointer)

# Where the sample inputs gather; the Windows tree takes them from here.
set(SOLVARINE_SAMPLE_DIR ${CMAKE_BINARY_DIR}/sample-payload)
file(MAKE_DIRECTORY ${SOLVARINE_SAMPLE_DIR})

add_subdirectory(tools)
add_subdirectory(payload)
add_subdirectory(tests/native)
