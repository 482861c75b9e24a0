#pragma once
// Helpers shared by the storage container tests: a scratch folder, whole-file reads and
// writes, little-endian fields, and a file system that fails a chosen step of a save.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "engine/persistence/storage.h"
#include "platform/core/errors.h"

namespace dtp::test {

using Bytes = std::vector<uint8_t>;

inline Bytes B(std::string_view s) {
  return Bytes(s.begin(), s.end());
}

inline Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

inline int64_t GetLE(const Bytes& b, size_t at, int width) {
  uint64_t u = 0;
  for (int i = width - 1; i >= 0; --i) u = (u << 8) | b.at(at + static_cast<size_t>(i));
  if (width == 4) return static_cast<int32_t>(static_cast<uint32_t>(u));
  return static_cast<int64_t>(u);
}

inline void PutLE(Bytes& b, size_t at, int width, int64_t value) {
  const auto u = static_cast<uint64_t>(value);
  for (int i = 0; i < width; ++i)
    b.at(at + static_cast<size_t>(i)) = static_cast<uint8_t>(u >> (8 * i));
}

inline Bytes SaveBytes(TvqStorage& storage) {
  TvqMemoryStream out;
  storage.SaveToStream(out);
  return out.TakeBytes();
}

// The index of a container file as its bytes say, read without opening (and locking) it.
inline std::vector<TvqIndexItem> IndexOf(const Bytes& file) {
  return storage::ReadIndex(TvqMemoryStream(file), false);
}

inline std::string MessageOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EDtpError& e) {
    return e.what();
  }
  return "(no error)";
}

class TScratchFolder {
public:
  TScratchFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "kartolino-storage-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    m_Path = pattern;
  }
  ~TScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(m_Path, ec);
  }
  const std::string& Path() const { return m_Path; }
  std::string File(const std::string& name) const { return m_Path + "/" + name; }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(m_Path))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

private:
  std::string m_Path;
};

// Counts every step of a save (create, each write, sync, close, rename, folder sync) and
// fails the N-th one; 0 never fails.
class TFailingFileSystem : public IStorageFileSystem {
public:
  explicit TFailingFileSystem(int failAt) : m_FailAt(failAt) {}

  int Steps() const { return m_Steps; }
  bool FailedAfterRename() const { return m_Renamed && m_Failed; }
  bool Failed() const { return m_Failed; }

  std::unique_ptr<IStorageFile> CreateTemporary(const std::string& target,
                                                std::string& fileName) override {
    FailHere();
    return std::make_unique<TFile>(*this, Real().CreateTemporary(target, fileName));
  }
  void Rename(const std::string& from, const std::string& to) override {
    FailHere();
    Real().Rename(from, to);
    m_Renamed = true;
  }
  void SyncFolder(const std::string& folder) override {
    FailHere();
    Real().SyncFolder(folder);
  }
  void Remove(const std::string& fileName) noexcept override { Real().Remove(fileName); }

private:
  class TFile : public IStorageFile {
  public:
    TFile(TFailingFileSystem& owner, std::unique_ptr<IStorageFile> real)
        : m_Owner(owner), m_Real(std::move(real)) {}
    void Write(const uint8_t* data, size_t size) override {
      // Half of the bytes reach the file first, as with a disk that fills up mid-write.
      if (m_Owner.Step()) {
        m_Real->Write(data, size / 2);
        throw EDtpError("injected write failure");
      }
      m_Real->Write(data, size);
    }
    void Sync() override {
      m_Owner.FailHere();
      m_Real->Sync();
    }
    void Close() override {
      m_Owner.FailHere();
      m_Real->Close();
    }

  private:
    TFailingFileSystem& m_Owner;
    std::unique_ptr<IStorageFile> m_Real;
  };

  static IStorageFileSystem& Real() { return DefaultStorageFileSystem(); }

  // True when this step is the one to fail.
  bool Step() {
    ++m_Steps;
    if (m_Steps != m_FailAt) return false;
    m_Failed = true;
    return true;
  }
  void FailHere() {
    if (Step()) throw EDtpError("injected failure");
  }

  int m_FailAt;
  int m_Steps = 0;
  bool m_Renamed = false;
  bool m_Failed = false;
};

} // namespace dtp::test
