# The Windows download: the program and a short read-me, in one zip (`--target lumora_zip`).
set(win_zip ${PROJECT_BINARY_DIR}/lumora-${PROJECT_VERSION}-windows-x64.zip)
set(win_stage ${PROJECT_BINARY_DIR}/zip-stage)
add_custom_command(OUTPUT ${win_zip}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${win_stage} ${win_zip}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${win_stage}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:lumora> ${win_stage}/lumora.exe
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/windows-readme.txt
            ${win_stage}/README.txt
    # Fixed times keep the same sources giving the same zip.
    COMMAND touch -d 2026-01-01T00:00:00Z ${win_stage}/lumora.exe ${win_stage}/README.txt
    COMMAND cd ${win_stage} && zip -X -q ${win_zip} lumora.exe README.txt
    DEPENDS lumora ${PROJECT_SOURCE_DIR}/packaging/windows-readme.txt
    COMMENT "Packing ${win_zip}")
add_custom_target(lumora_zip DEPENDS ${win_zip})
