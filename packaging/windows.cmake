# The Windows download: the program and a short read-me, in one zip (`--target lumora_zip`),
# with its SHA-256 sum beside it. The same sources give the same zip: the entries in a fixed
# order with fixed modes, and as their time SOURCE_DATE_EPOCH (scripts/build-windows sets the
# last commit's time; 2026-01-01 without one).
set(win_zip_name lumora-${PROJECT_VERSION}-windows-x64.zip)
set(win_zip ${PROJECT_BINARY_DIR}/${win_zip_name})
set(win_stage ${PROJECT_BINARY_DIR}/zip-stage)
add_custom_command(OUTPUT ${win_zip} ${win_zip}.sha256
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${win_stage} ${win_zip} ${win_zip}.sha256
    COMMAND ${CMAKE_COMMAND} -E make_directory ${win_stage}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:lumora> ${win_stage}/lumora.exe
    COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/packaging/windows-readme.txt
            ${win_stage}/README.txt
    COMMAND sh ${PROJECT_SOURCE_DIR}/packaging/windows-zip.sh ${win_stage} ${win_zip}
            README.txt lumora.exe
    DEPENDS lumora ${PROJECT_SOURCE_DIR}/packaging/windows-readme.txt
            ${PROJECT_SOURCE_DIR}/packaging/windows-zip.sh
    COMMENT "Packing ${win_zip}")
add_custom_target(lumora_zip DEPENDS ${win_zip})
