#include "dataset/SqliteKeyWalk.h"

#include <sqlite3.h>

#include <cstring>

namespace qel {

bool TSqliteKeyWalk::StandsOnRecordAsRead(TRecordId id) const {
    return s_ != nullptr && !atEnd_ && asRead_ && sqlite3_column_int64(s_, 0) == id;
}

void TSqliteKeyWalk::Stepped(bool atEnd) {
    atEnd_ = atEnd;
    asRead_ = !atEnd;
    const int keyColumn = kFirstField + field_;
    keyIsText_ = !atEnd && sqlite3_column_type(s_, keyColumn) == SQLITE_TEXT;
    if (keyIsText_) {
        key_ = reinterpret_cast<const char*>(sqlite3_column_text(s_, keyColumn));
        keySize_ = static_cast<std::size_t>(sqlite3_column_bytes(s_, keyColumn));
    }
}

int TSqliteKeyWalk::Compare(const std::string& key) const {
    if (atEnd_) return 1;
    if (!keyIsText_) return kIncomparable;
    const std::size_t common = keySize_ < key.size() ? keySize_ : key.size();
    const int c = common == 0 ? 0 : std::memcmp(key_, key.data(), common);
    if (c != 0) return c < 0 ? -1 : 1;
    return keySize_ < key.size() ? -1 : keySize_ > key.size() ? 1 : 0;
}

void TSqliteKeyWalk::Stop() noexcept {
    if (s_ != nullptr) sqlite3_reset(s_);
    s_ = nullptr;
    field_ = -1;
    atEnd_ = false;
    asRead_ = false;
    keyIsText_ = false;
}

}  // namespace qel
