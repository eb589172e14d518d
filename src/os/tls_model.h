// tls_model.h - the thread-local variables read on every row call use the initial-exec model: one
// load relative to the thread pointer instead of a call into the loader. The driver's few bytes of
// such data fit the room the loader keeps for libraries opened at run time.
#pragma once

#if defined(__ELF__) && (defined(__GNUC__) || defined(__clang__))
#define KC_TLS_INITIAL_EXEC __attribute__((tls_model("initial-exec")))
#else
#define KC_TLS_INITIAL_EXEC
#endif
