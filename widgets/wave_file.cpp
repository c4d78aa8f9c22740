#include "widgets/wave_file.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <typeinfo>

namespace tertulia {

namespace {

constexpr std::size_t kReadChunk = 64 * 1024;

[[noreturn]] void ThrowReadError() {
    throw std::runtime_error("Stream read error");
}

}  // namespace

std::string WaveFileNamePart(const std::string& path) {
    const std::size_t separator = path.find_last_of("\\:/");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

bool TWaveFile::SameAs(const TWaveFile& other) const {
    const bool sameClass = typeid(*this) == typeid(other);
    if (IsEmpty() || other.IsEmpty()) return IsEmpty() && other.IsEmpty();
    if (!sameClass) return false;
    MemoryStream mine;
    MemoryStream theirs;
    SaveToStream(mine);
    other.SaveToStream(theirs);
    return mine.Bytes() == theirs.Bytes();
}

void TWaveFile::LoadFromFile(const std::string& fileName) {
    FileStream file(fileName, FileStream::Mode::Read);
    LoadFromStream(file);
}

void TWaveFile::LoadFromStream(Stream& stream) {
    data_.reset();
    const std::int64_t size = stream.Size();
    // The byte count is a 32-bit signed number; a larger stream cannot be held.
    if (size > std::numeric_limits<std::int32_t>::max()) ThrowReadError();
    if (size <= 0) return;
    auto block = std::make_shared<std::vector<unsigned char>>(static_cast<std::size_t>(size), 0);
    std::size_t filled = 0;
    while (filled < block->size()) {
        const std::size_t n = stream.Read(block->data() + filled, block->size() - filled);
        if (n == 0) break;
        filled += n;
    }
    data_ = std::move(block);
}

void TWaveFile::SaveToStream(Stream& stream) const {
    if (data_ != nullptr) stream.Write(data_->data(), data_->size());
}

void TWaveFile::Play() {
    if (IsEmpty()) throw EWaveError("No wave data");
    if (OnPlay) OnPlay(*this);
    unsigned flags = SND_MEMORY;
    flags |= wavePause_ == wpAsync ? SND_ASYNC : SND_SYNC;
    if (waveLoop_ == wlLoop) flags |= SND_LOOP;
    if (!sound_.PlaySound(data_, flags)) throw EWaveError("Error playing sound");
}

void TWaveFile::SetWaveName(const std::string& value) {
    if (value.empty()) {
        waveName_.clear();
        data_.reset();
        return;
    }
    waveName_ = WaveFileNamePart(value);
    if (loading_) return;
    std::error_code error;
    if (std::filesystem::is_regular_file(value, error)) LoadFromFile(value);
}

bool TWaveFile::HasData(const Ancestor* ancestor) const {
    if (ancestor != nullptr) {
        return ancestor->player == nullptr || !SameAs(*ancestor->player);
    }
    return !IsEmpty();
}

void TWaveFile::WriteDataValue(Stream& form) const {
    MemoryStream bytes;
    WriteData(bytes);
    const auto count = static_cast<std::uint32_t>(bytes.Bytes().size());
    const unsigned char head[5] = {
        kBinaryValueType,
        static_cast<unsigned char>(count),
        static_cast<unsigned char>(count >> 8),
        static_cast<unsigned char>(count >> 16),
        static_cast<unsigned char>(count >> 24),
    };
    form.Write(head, sizeof head);
    form.Write(bytes.Bytes().data(), bytes.Bytes().size());
}

void TWaveFile::ReadDataValue(Stream& form) {
    unsigned char head[5];
    if (form.Read(head, sizeof head) != sizeof head) ThrowReadError();
    if (head[0] != kBinaryValueType) throw std::runtime_error("Invalid property value");
    const std::uint32_t count = std::uint32_t{head[1]} | std::uint32_t{head[2]} << 8 |
                                std::uint32_t{head[3]} << 16 | std::uint32_t{head[4]} << 24;
    // A count beyond what the form holds is refused before anything is allocated.
    if (static_cast<std::int64_t>(count) > form.Size() - form.Position()) ThrowReadError();
    std::string bytes;
    bytes.reserve(count);
    char chunk[kReadChunk];
    while (bytes.size() < count) {
        const std::size_t n = form.Read(chunk, std::min(kReadChunk, count - bytes.size()));
        if (n == 0) ThrowReadError();
        bytes.append(chunk, n);
    }
    MemoryStream value(std::move(bytes));
    ReadData(value);
}

}  // namespace tertulia
