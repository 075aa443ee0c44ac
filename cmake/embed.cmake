# Turns binary files into C++ byte arrays so the program carries its sounds and pictures and
# reads no asset files at run time.
#   lumora_embed(OUT_VAR NAMESPACE ns FILES a.wav b.jpg ...)
# Generates one source per file plus an index whose `find(name)` returns the bytes of the file
# with that file name (an empty span for a name that was not embedded).
function(lumora_embed out_var)
    cmake_parse_arguments(E "" "NAMESPACE" "FILES" ${ARGN})
    set(generated)
    set(decls "")
    set(rows "")
    foreach(file ${E_FILES})
        get_filename_component(abs ${file} ABSOLUTE)
        get_filename_component(name ${file} NAME)
        string(MAKE_C_IDENTIFIER ${name} ident)
        set(cpp ${CMAKE_CURRENT_BINARY_DIR}/embedded_${ident}.cpp)
        add_custom_command(
            OUTPUT ${cpp}
            COMMAND ${CMAKE_COMMAND} -DIN=${abs} -DOUT=${cpp} -DNS=${E_NAMESPACE} -DIDENT=${ident}
                    -P ${PROJECT_SOURCE_DIR}/cmake/embed_one.cmake
            DEPENDS ${abs} ${PROJECT_SOURCE_DIR}/cmake/embed_one.cmake
            COMMENT "Embedding ${name}")
        list(APPEND generated ${cpp})
        string(APPEND decls "extern const std::span<const std::uint8_t> ${ident};\n")
        string(APPEND rows "    {\"${name}\", ${ident}},\n")
    endforeach()
    set(index ${CMAKE_CURRENT_BINARY_DIR}/embedded_index.cpp)
    set(content "// Generated; do not edit.\n#include <cstdint>\n#include <span>\n#include <string_view>\n"
        "namespace ${E_NAMESPACE} {\n${decls}\nnamespace {\nstruct Entry { std::string_view name; std::span<const std::uint8_t> bytes; };\n"
        "const Entry entries[] = {\n${rows}    {\"\", {}},\n};\n}  // namespace\n\n"
        "std::span<const std::uint8_t> find(std::string_view name) {\n"
        "    for (const Entry& e : entries)\n        if (!e.name.empty() && e.name == name) return e.bytes;\n"
        "    return {};\n}\n}\n")
    # Rewrite only on change so that adding nothing does not rebuild dependants.
    if(EXISTS ${index})
        file(READ ${index} old)
    else()
        set(old "")
    endif()
    if(NOT old STREQUAL content)
        file(WRITE ${index} "${content}")
    endif()
    list(APPEND generated ${index})
    set(${out_var} ${generated} PARENT_SCOPE)
endfunction()
