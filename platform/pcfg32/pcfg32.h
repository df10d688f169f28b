#pragma once
// libpcfg32.so: tells the virtual COM driver that the server store changed.
//
// There is no virtual COM driver on this platform yet. FreshPort therefore tells
// whoever reads the store that it changed: it rewrites a change stamp file beside
// the hive ("<hive>.changed", holding the time of the change and a counter), and,
// when the environment variable ZELIN_FRESHPORT_HOOK is set, runs that command with
// /bin/sh and waits for it (ZELIN_REGISTRY_CHANGED is set to the hive path for it).
//
// The hive path is ZELIN_REGISTRY when set, else $XDG_DATA_HOME/zelin/registry.reg,
// else ~/.local/share/zelin/registry.reg, as the store resolves it.
//
// Returns 0 when the stamp was written (and the hook, if any, exited with 0), -1
// otherwise. Callers ignore the result. Safe to call from any thread.

#ifdef __cplusplus
extern "C" {
#endif

__attribute__((visibility("default"))) int FreshPort(void);

#ifdef __cplusplus
}
#endif
