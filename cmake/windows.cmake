# Windows tree: the installer image, the sample tool, the Windows-side tests.
enable_language(ASM RC)

set(SOLVARINE_SAMPLE_DIR "" CACHE PATH "Sample inputs made by the host tree (all but the tool)")
set(SOLVARINE_PAYLOAD_DIR "" CACHE PATH "A folder with the six payload files; empty: the sample")

set(SOLVARINE_WARNINGS -Wall -Wextra -Werror)
# Nothing links a library by default: the image names its DLLs itself.
set(CMAKE_C_STANDARD_LIBRARIES "")
set(CMAKE_CXX_STANDARD_LIBRARIES "")

# Flags for binaries without a C runtime: no exceptions, RTTI, unwind tables, stack protector
# or ident strings; small code. -malign-data=abi: literal arrays aligned as the ABI needs, not
# to 32 bytes, which only padded the strings in front of the payload.
set(SOLVARINE_FREESTANDING_COMPILE -Os -ffreestanding -fno-exceptions -fno-rtti
    -fno-asynchronous-unwind-tables -fno-unwind-tables -fno-stack-protector -fno-ident
    -fno-tree-loop-distribute-patterns -fno-threadsafe-statics -ffunction-sections -fdata-sections
    -malign-data=abi)
# No timestamp and no build id: one commit builds the same bytes.
set(SOLVARINE_FREESTANDING_LINK -nostdlib -nostartfiles -s -Wl,--gc-sections
    -Wl,--no-insert-timestamp -Wl,--subsystem,windows:5.2)

add_subdirectory(payload/tool)  # the sample tool: target solvarine_sample_tool

# The six inputs, checked and staged side by side under their installed names.
set(payload_names Solvarine.exe 7za.exe Solvarine.lnk Solvarine_PC.pdf Checklist_Lightwave.txt
    Checklist_Terragen.txt)
set(stage_dir ${CMAKE_BINARY_DIR}/payload)
set(payload_inputs)
set(staged)
foreach(name ${payload_names})
  if(SOLVARINE_PAYLOAD_DIR)
    list(APPEND payload_inputs ${SOLVARINE_PAYLOAD_DIR}/${name})
  elseif(name STREQUAL "Solvarine.exe")
    list(APPEND payload_inputs $<TARGET_FILE:solvarine_sample_tool>)
  else()
    list(APPEND payload_inputs ${SOLVARINE_SAMPLE_DIR}/${name})
  endif()
  list(APPEND staged ${stage_dir}/${name})
endforeach()
set(stage_depends ${payload_inputs})
if(NOT SOLVARINE_PAYLOAD_DIR)
  list(REMOVE_ITEM stage_depends $<TARGET_FILE:solvarine_sample_tool>)
  list(APPEND stage_depends solvarine_sample_tool)
endif()
add_custom_command(
  OUTPUT ${staged}
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/stage_payload.py
          --install-folder-header ${PROJECT_SOURCE_DIR}/src/installer/install_folder.h
          --out ${stage_dir} ${payload_inputs}
  DEPENDS ${stage_depends} ${PROJECT_SOURCE_DIR}/tools/stage_payload.py
          ${PROJECT_SOURCE_DIR}/src/installer/install_folder.h
  COMMENT "Checking and staging the payload")
add_custom_target(staged_payload DEPENDS ${staged})

# The icon, drawn from its committed pixel grid.
set(icon ${CMAKE_BINARY_DIR}/resources/solvarine.ico)
add_custom_command(
  OUTPUT ${icon}
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/resources/make_icon.py
          ${PROJECT_SOURCE_DIR}/resources/solvarine_icon.txt ${icon}
  DEPENDS ${PROJECT_SOURCE_DIR}/resources/make_icon.py
          ${PROJECT_SOURCE_DIR}/resources/solvarine_icon.txt)

set(image_sources
    src/installer/run_install.cpp src/installer/payload_image.cpp src/installer/freestanding.cpp
    src/installer/payload.S
    src/system/folder_operations.cpp src/system/payload_file_writer.cpp
    src/system/special_folder.cpp src/system/message_box.cpp src/system/program_launch.cpp
    resources/installer.rc)
add_executable(Solvarine_Setup WIN32 ${image_sources})
target_compile_options(Solvarine_Setup PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:${SOLVARINE_WARNINGS} ${SOLVARINE_FREESTANDING_COMPILE}>
    $<$<COMPILE_LANGUAGE:ASM>:-Wa,-I${stage_dir}>)
target_include_directories(Solvarine_Setup PRIVATE src)
target_link_options(Solvarine_Setup PRIVATE ${SOLVARINE_FREESTANDING_LINK} -Wl,-e,RunInstall
    -Wl,-Map=${CMAKE_BINARY_DIR}/Solvarine_Setup.map)
target_link_libraries(Solvarine_Setup PRIVATE kernel32 user32 shell32 ole32 comctl32)
set_source_files_properties(src/installer/payload.S PROPERTIES OBJECT_DEPENDS "${staged}")
set_source_files_properties(resources/installer.rc PROPERTIES
    OBJECT_DEPENDS "${icon};${PROJECT_SOURCE_DIR}/resources/installer.manifest")
target_include_directories(Solvarine_Setup PRIVATE $<$<COMPILE_LANGUAGE:RC>:${CMAKE_BINARY_DIR}/resources>
    $<$<COMPILE_LANGUAGE:RC>:${PROJECT_SOURCE_DIR}/resources>)
add_dependencies(Solvarine_Setup staged_payload)

add_subdirectory(tests/windows)
add_subdirectory(tests/e2e)
add_subdirectory(tests/image)
