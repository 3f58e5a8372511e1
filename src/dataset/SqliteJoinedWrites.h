// A file layer for SQLite that joins a run of consecutive writes into one write to the system.
//
// SQLite writes a database a page at a time, and its rollback journal three times a page (the
// page's number, the page, a checksum). A run that changes many pages pays a system call, and
// the file system's own work for a write, for each of them: on a file of a hundred megabytes,
// tens of thousands of small writes. This layer sits between SQLite and the system's own file
// layer and holds back a write to the database file or its rollback journal while the next one
// goes on right where it ended, up to kJoinedBytes; then it writes them as one.
//
// What the system sees stays in SQLite's order: only one file holds back writes at a time (a
// write to another file first writes what is held), and everything that makes a write count for
// more than its bytes — a sync, a truncation, a lock taken or given up, opening or deleting a
// file — first writes what is held. A read, a size or a mapping of the file that holds writes
// back first writes them, so SQLite reads what it wrote. A database in WAL mode has its writes
// go straight through (others read its pages by the WAL's shared memory), as do the WAL and
// temporary files. A process killed with writes held back leaves the files as it would have
// been killed just before those writes; a machine that stops loses nothing a sync covered.
//
// A held-back write that fails reports its error at the call that wrote it (a later write, a
// sync, a read), where SQLite handles it as a failed write: the transaction is not committed,
// and no write to the database file follows a journal write that failed, because that write
// first writes the journal's held bytes and fails with them.
//
// Once a sync of a database file has made what it wrote durable, the layer lets the system drop
// those pages from its cache: a load of gigabytes would otherwise keep them all there, and every
// page the cache takes anew is memory the system must find. Only clean pages are dropped.
//
// The layer is registered once under kSqliteJoinedWritesVfs, over the system's default layer,
// and is never made the default: a connection opened with its name uses it.
#pragma once

namespace qel {

inline constexpr const char* kSqliteJoinedWritesVfs = "qel-joined-writes";

// The bytes held back for one file at most. The system layer writes at most 128 KB less one
// byte in one call (it masks the length), so a joined write stays below that.
inline constexpr int kJoinedBytes = 64 * 1024;

// Registers the layer (once per process) and returns its name, or nullptr when SQLite has no
// default layer to put it over or refused it.
const char* SqliteJoinedWritesVfs();

}  // namespace qel
