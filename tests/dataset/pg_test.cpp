// The PostgreSQL table engine against a real server: types, the record stream, and faults.
#include <gtest/gtest.h>
#include <libpq-fe.h>

#include "TableFactory.h"
#include "core/Errors.h"

namespace qel {
namespace {

using test::TPgServer;

}  // namespace
}  // namespace qel
