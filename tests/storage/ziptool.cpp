// A small command-line front end to the ZIP module, so that shell tests can
// hand its archives to other unpackers and unpack theirs with it.
//   ziptool create|append ARCHIVE LEVEL[:PIECE] PASSWORD|- NAME FILE [NAME FILE ...]
// With a piece size each file is deflated in pieces of that many bytes, the
// way the backup's packer spreads large files over several threads.
//   ziptool list ARCHIVE
//   ziptool extract ARCHIVE FOLDER [PASSWORD]
// Exit status 0 on success, 1 on any failure (with the module's error text).
#include "storage/Zip.h"

#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

int Usage() {
  std::cerr << "usage: ziptool create|append ARCHIVE LEVEL[:PIECE] PASSWORD|- NAME FILE [NAME FILE ...]\n"
               "       ziptool list ARCHIVE\n"
               "       ziptool extract ARCHIVE FOLDER [PASSWORD]\n";
  return 2;
}

int Failed(const std::string& what, const std::string& error) {
  std::cerr << "ziptool: " << what << ": " << error << "\n";
  return 1;
}

// The entry's data as pieces, each primed with the 32 KiB before it.
bool WritePieces(CZipWriter& writer, ZipNewEntry entry, const std::string& data, std::size_t piece) {
  entry.deflatedByCaller = true;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data.data());
  CDeflatePiece deflater;
  std::vector<unsigned char> out;
  std::uint32_t crc = 0;
  if (data.size() <= piece)
    return deflater.Compress(entry.level, nullptr, 0, bytes, data.size(), true, out, crc) &&
           writer.AddDeflatedEntry(entry, out.data(), out.size(), data.size(), crc);
  if (!writer.OpenEntry(entry)) return false;
  for (std::size_t at = 0; at < data.size(); at += piece) {
    std::size_t size = std::min(piece, data.size() - at);
    std::size_t history = std::min<std::size_t>(at, CDeflatePiece::kHistorySize);
    if (!deflater.Compress(entry.level, bytes + at - history, history, bytes + at, size,
                           at + size == data.size(), out, crc) ||
        !writer.WriteDeflated(out.data(), out.size(), size, crc))
      return false;
  }
  return writer.CloseEntry();
}

int Create(int argc, char** argv, bool append) {
  if (argc < 7 || (argc - 5) % 2 != 0) return Usage();
  CZipWriter writer;
  if (!(append ? writer.CreateAfter(argv[2]) : writer.Create(argv[2]))) return Failed(argv[2], writer.GetErrorText());
  std::string password = argv[4];
  for (int i = 5; i + 1 < argc; i += 2) {
    std::ifstream in(argv[i + 1], std::ios::binary);
    if (!in) return Failed(argv[i + 1], "can't open");
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ZipNewEntry entry;
    entry.name = argv[i];
    entry.dosDate = (2004 - 1980) << 9 | 5 << 5 | 17;
    entry.dosTime = 13 << 11 | 45 << 5 | 10;
    entry.externalAttributes = 0x20;
    entry.level = std::atoi(argv[3]);
    const char* colon = std::strchr(argv[3], ':');
    std::size_t piece = colon ? static_cast<std::size_t>(std::atol(colon + 1)) : 0;
    if (password != "-") entry.password = password;
    entry.crc = static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
    if (piece > 0) {
      if (!WritePieces(writer, entry, data, piece)) return Failed(argv[i], writer.GetErrorText());
      continue;
    }
    // Written in blocks, the way the archive layer streams files.
    bool ok = writer.OpenEntry(entry);
    for (std::size_t at = 0; ok && at < data.size(); at += 65536)
      ok = writer.WriteEntry(data.data() + at, std::min<std::size_t>(65536, data.size() - at));
    if (ok) ok = writer.CloseEntry();
    if (!ok) return Failed(argv[i], writer.GetErrorText());
  }
  if (!writer.Close()) return Failed(argv[2], writer.GetErrorText());
  return 0;
}

int List(int argc, char** argv) {
  if (argc != 3) return Usage();
  CZipReader reader;
  if (!reader.Open(argv[2])) return Failed(argv[2], reader.GetErrorText());
  for (bool more = reader.GoToFirstEntry(); more; more = reader.GoToNextEntry()) {
    const ZipEntryInfo& e = *reader.GetCurrentEntry();
    std::printf("%10u %10u %08x m%u %s%s %s\n", e.uncompressedSize, e.compressedSize, e.crc, e.method,
                e.IsEncrypted() ? "E" : "-", e.IsFolder() ? "D" : "-", e.name.c_str());
  }
  return 0;
}

int Extract(int argc, char** argv) {
  if (argc != 4 && argc != 5) return Usage();
  const char* password = argc == 5 ? argv[4] : nullptr;
  CZipReader reader;
  if (!reader.Open(argv[2])) return Failed(argv[2], reader.GetErrorText());
  for (bool more = reader.GoToFirstEntry(); more; more = reader.GoToNextEntry()) {
    const ZipEntryInfo& e = *reader.GetCurrentEntry();
    std::string relative = e.name;
    for (char& c : relative)
      if (c == '\\') c = '/';
    fs::path target = fs::path(argv[3]) / fs::path(relative).relative_path();
    for (const fs::path& part : fs::path(relative))
      if (part == "..") return Failed(e.name, "name leaves the target folder");
    std::error_code ignored;
    if (e.IsFolder()) {
      fs::create_directories(target, ignored);
      continue;
    }
    fs::create_directories(target.parent_path(), ignored);
    if (!reader.OpenEntry(e.IsEncrypted() ? password : nullptr)) return Failed(e.name, reader.GetErrorText());
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    if (!out) return Failed(target.string(), "can't create");
    char buffer[16384];
    long got;
    while ((got = reader.ReadEntry(buffer, sizeof buffer)) > 0) out.write(buffer, got);
    if (got < 0 || !reader.CloseEntry()) return Failed(e.name, reader.GetErrorText());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  std::string command = argv[1];
  if (command == "create") return Create(argc, argv, false);
  if (command == "append") return Create(argc, argv, true);
  if (command == "list") return List(argc, argv);
  if (command == "extract") return Extract(argc, argv);
  return Usage();
}
