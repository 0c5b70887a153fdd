# dio::warnings: the warning flags every target of ours builds with.
add_library(dio_warnings INTERFACE)
add_library(dio::warnings ALIAS dio_warnings)

if(MSVC)
    target_compile_options(dio_warnings INTERFACE /W4 $<$<BOOL:${DIO_WARNINGS_AS_ERRORS}>:/WX>)
else()
    target_compile_options(dio_warnings INTERFACE -Wall -Wextra -Wpedantic
                           $<$<BOOL:${DIO_WARNINGS_AS_ERRORS}>:-Werror>)
endif()
