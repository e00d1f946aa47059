#pragma once

namespace storeserver::storage {

// The name of an SQLite file layer over the system's own that gathers the
// writes of a write-ahead log (a frame's header, then its page, frame after
// frame) and hands them to the system in one write with the last page of a
// commit, rather than two system calls per page of every commit. Every other
// file, and every other operation, goes straight through. Registered on the
// first call; never the default layer.
//
// A commit's frames reach the log before the shared index names them to
// other connections, whatever the synchronous setting, and a failed write
// fails the commit; a log read, synced, resized or closed first writes what
// waits. Returns nullptr when the layer cannot be registered (SQLite then
// uses its own).
const char* walBatchingVfsName();

}  // namespace storeserver::storage
