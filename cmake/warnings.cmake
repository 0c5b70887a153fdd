# dio::warnings: the warning flags every target of ours builds with.
add_library(dio_warnings INTERFACE)
add_library(dio::warnings ALIAS dio_warnings)

if(MSVC)
    target_compile_options(dio_warnings INTERFACE /W4 $<$<BOOL:${DIO_WARNINGS_AS_ERRORS}>:/WX>)
    # getenv and friends are used as the C++ standard defines them.
    target_compile_definitions(dio_warnings INTERFACE _CRT_SECURE_NO_WARNINGS)
else()
    target_compile_options(dio_warnings INTERFACE -Wall -Wextra -Wpedantic
                           $<$<BOOL:${DIO_WARNINGS_AS_ERRORS}>:-Werror>)
endif()

# windows.h without the parts of it no program here uses, and without its
# min and max macros, which would break std::min and std::max.
if(WIN32)
    target_compile_definitions(dio_warnings INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX)
endif()
