# The LZMA SDK's C sources as Debian's lzma-dev installs them, compiled single-threaded,
# with our LzmaLib-style one-call compressor on top. Nothing of the SDK is kept in this repo.
set(LZMA_SDK_DIR /usr/include/lzma CACHE PATH "Folder with LzmaEnc.c, LzFind.c and LzmaDec.c")
foreach(f LzmaEnc.c LzFind.c LzmaDec.c LzmaEnc.h LzmaDec.h Types.h)
  if(NOT EXISTS ${LZMA_SDK_DIR}/${f})
    message(FATAL_ERROR "LZMA SDK file ${LZMA_SDK_DIR}/${f} is missing: install the Debian package lzma-dev")
  endif()
endforeach()

add_library(lzma_sdk STATIC
  ${LZMA_SDK_DIR}/LzmaEnc.c
  ${LZMA_SDK_DIR}/LzFind.c
  ${LZMA_SDK_DIR}/LzmaDec.c
  ${CMAKE_SOURCE_DIR}/deltamaker/lzma/lzma_lib.c)
target_compile_definitions(lzma_sdk PRIVATE _7ZIP_ST)
# The SDK is third-party code: keep its own warnings out of our -Wall -Wextra build.
set_source_files_properties(${LZMA_SDK_DIR}/LzmaEnc.c ${LZMA_SDK_DIR}/LzFind.c ${LZMA_SDK_DIR}/LzmaDec.c
  PROPERTIES COMPILE_OPTIONS "-w")
target_include_directories(lzma_sdk PRIVATE ${LZMA_SDK_DIR})
# Only our wrapper header is public; the SDK folder also holds liblzma's headers, which must not
# shadow anything else.
target_include_directories(lzma_sdk PUBLIC ${CMAKE_SOURCE_DIR})
