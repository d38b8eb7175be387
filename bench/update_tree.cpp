#include "update_tree.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

#include "manifest/sha256.h"

namespace korvanta::bench {
namespace {

namespace fs = std::filesystem;

// Where a game keeps its files, how many of them, and how large: areas by
// share of the files, file names, and the range of sizes (as powers of two)
// before the sizes are scaled to the total.
struct Area {
  const char* name;
  int share;  // per mille
  const char* stem;
  const char* extension;
  double min_log2, max_log2;
  std::vector<const char*> groups;
};

const std::vector<Area>& areas() {
  static const std::vector<Area> list = {
      {"textures", 380, "tex", ".dds", 12, 22, {"characters", "environment", "props", "ui", "effects", "terrain"}},
      {"sounds", 200, "snd", ".ogg", 13, 21, {"ambient", "voice/en", "voice/de", "sfx", "music"}},
      {"models", 150, "mdl", ".mesh", 11, 20, {"characters", "props", "vehicles", "weapons"}},
      {"scripts", 110, "scr", ".lua", 9, 15, {"ai", "quests", "ui", "core"}},
      {"locale", 50, "str", ".txt", 10, 17, {"en", "de", "fr", "ja"}},
      {"shaders", 50, "shd", ".fxo", 10, 16, {"d3d11", "vulkan"}},
      {"maps", 40, "map", ".bsp", 18, 25, {"campaign", "multiplayer"}},
      {"movies", 10, "mov", ".bk2", 23, 26, {"intro", "cutscenes"}},
      {"bin", 10, "lib", ".dll", 16, 24, {"x86", "x64"}},
  };
  return list;
}

std::string numbered(const char* stem, int n, const char* extension) {
  char text[64];
  std::snprintf(text, sizeof text, "%s_%05d%s", stem, n, extension);
  return text;
}

fs::path under(const fs::path& root, const std::string& relative) {
  fs::path path = root / fs::path(std::u8string(relative.begin(), relative.end()));
  return path.make_preferred();
}

// Bytes that do not repeat, so that no file system or cache can shortcut them.
std::string write_random_file(const fs::path& path, std::uint64_t size, std::uint64_t seed) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::vector<std::uint64_t> chunk(16384);
  Sha256 hasher;
  std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  for (std::uint64_t left = size; left > 0;) {
    for (auto& word : chunk) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      word = x;
    }
    const std::size_t bytes = static_cast<std::size_t>(std::min<std::uint64_t>(left, chunk.size() * 8));
    out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(bytes));
    hasher.update(chunk.data(), bytes);
    left -= bytes;
  }
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path.string());
  return hasher.final_hex();
}

// JSON string text of ASCII path text (the benchmark's names are ASCII).
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::uint64_t inode(const fs::path& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

}  // namespace

std::string program_path(const fs::path& path, bool windows_paths) {
  std::string text = path.string();
  if (!windows_paths) return text;
  std::replace(text.begin(), text.end(), '/', '\\');
  return "Z:" + text;
}

void generate_tree(const fs::path& dir, const TreeShape& shape) {
  std::mt19937_64 random(2026);
  std::uniform_int_distribution<int> per_mille(0, 999), folder_size(12, 80);
  struct Folder {
    std::string path;
    int left = 0;
  };
  std::vector<Folder> current(areas().size());
  std::vector<int> folders(areas().size(), 0);
  std::vector<TreeFile> files;
  std::vector<double> raw;
  int counter = 0;
  const auto add = [&](char kind, const Area& area, const std::string& folder) {
    std::uniform_real_distribution<double> exponent(area.min_log2, area.max_log2);
    raw.push_back(std::exp2(exponent(random)));
    files.push_back({kind, folder + "/" + numbered(area.stem, counter++, area.extension), 0, ""});
  };
  for (int i = 0; i < shape.files; ++i) {
    int pick = per_mille(random), a = 0;
    while (pick >= areas()[a].share && a + 1 < static_cast<int>(areas().size())) pick -= areas()[a++].share;
    const Area& area = areas()[a];
    Folder& folder = current[a];
    if (folder.left == 0) {
      const int n = folders[a]++;
      char set[32];
      std::snprintf(set, sizeof set, "set_%03d", n / static_cast<int>(area.groups.size()));
      folder = {std::string(area.name) + "/" + area.groups[n % area.groups.size()] + "/" + set, folder_size(random)};
    }
    --folder.left;
    add('T', area, folder.path);
  }
  // The new files: half in folders of the tree, half in new folders.
  const int added = std::max(1, shape.files / 50);
  for (int i = 0; i < added; ++i) {
    const Area& area = areas()[i % areas().size()];
    const std::string folder = i % 2 == 0 && !current[i % areas().size()].path.empty()
                                   ? current[i % areas().size()].path
                                   : "dlc/pack_" + std::to_string(i / 40) + "/" + area.name;
    add('A', area, folder);
  }

  double raw_total = 0;
  for (double size : raw) raw_total += size;
  for (std::size_t i = 0; i < files.size(); ++i) {
    switch (shape.sizes) {
      case Sizes::game:
        files[i].size = std::max<std::uint64_t>(1, static_cast<std::uint64_t>(raw[i] / raw_total * shape.total_bytes));
        break;
      case Sizes::small: {  // 1 to 16 KiB, evenly on a log scale
        const double octave = std::log2(raw[i]);
        files[i].size = static_cast<std::uint64_t>(std::exp2(10 + 4 * (octave - std::floor(octave))));
        break;
      }
      case Sizes::empty:
        files[i].size = 0;
        break;
    }
  }

  fs::remove_all(dir / "pristine");
  fs::remove_all(dir / "work");
  std::uint64_t seed = 1;
  for (auto& file : files) {
    if (file.kind == 'T') write_random_file(under(dir / "pristine" / "installed", file.path), file.size, seed++);
    file.sha256 = write_random_file(under(dir / "pristine" / "staged", file.path), file.size, seed++);
  }
  std::ofstream listing(dir / "listing.tsv", std::ios::binary | std::ios::trunc);
  for (const auto& file : files)
    listing << file.kind << '\t' << file.path << '\t' << file.size << '\t' << file.sha256 << '\n';
  if (!listing) throw std::runtime_error("cannot write the listing");
}

std::vector<TreeFile> read_tree(const fs::path& dir) {
  std::vector<TreeFile> files;
  std::ifstream listing(dir / "listing.tsv", std::ios::binary);
  std::string line;
  while (std::getline(listing, line)) {
    std::istringstream fields(line);
    TreeFile file;
    std::string kind;
    std::getline(fields, kind, '\t');
    std::getline(fields, file.path, '\t');
    fields >> file.size;
    fields.ignore(1);
    std::getline(fields, file.sha256);
    if (kind.size() != 1 || file.path.empty()) return {};
    file.kind = kind[0];
    files.push_back(file);
  }
  return files;
}

std::vector<Entry> update_entries(const std::vector<TreeFile>& tree, UpdateKind kind) {
  std::vector<Entry> entries;
  std::size_t index = 0;
  for (const TreeFile& file : tree) {
    if (file.kind == 'A') {
      if (kind == UpdateKind::delta) entries.push_back({'N', &file});
      continue;
    }
    // Spread evenly over the tree, the same files in every run.
    const std::size_t share = (index++ * 2654435761u) % 100;
    if (kind == UpdateKind::full || (kind == UpdateKind::delta && share < 10)) entries.push_back({'R', &file});
    else if (kind == UpdateKind::delta && share < 12) entries.push_back({'D', &file});
  }
  return entries;
}

Work prepare_work(const fs::path& dir, const std::vector<TreeFile>& tree, const std::vector<Entry>& entries,
                  bool windows_paths, std::size_t extra_manifest_files) {
  Work work;
  work.root = (dir / "work" / "Game").make_preferred();
  work.data_dir = work.root / ".korvanta";
  work.staging = work.data_dir / "staging" / "build-2";
  work.backup = work.data_dir / "backup" / "build-1";
  work.state_file = work.data_dir / "update-state.json";
  work.floor_list = dir / "work" / "floor-list.tsv";
  fs::remove_all(dir / "work");
  fs::create_directories(work.staging);

  std::set<std::string> folders;
  const auto link = [&](const fs::path& from, const fs::path& to) {
    const std::string folder = to.parent_path().string();
    if (folders.insert(folder).second) fs::create_directories(folder);
    fs::create_hard_link(from, to);
  };
  for (const TreeFile& file : tree)
    if (file.kind == 'T') link(under(dir / "pristine" / "installed", file.path), under(work.root, file.path));

  const auto path = [&](const fs::path& native) { return program_path(native, windows_paths); };
  std::ofstream state(work.state_file, std::ios::binary | std::ios::trunc);
  std::ofstream floor(work.floor_list, std::ios::binary | std::ios::trunc);
  state << "{\n\"install_root\": " << quoted(path(work.root))
        << ",\n\"manifest_path\": " << quoted(path(work.data_dir / "build-manifest.json"))
        << ",\n\"backup_root\": " << quoted(path(work.backup)) << ",\n\"staging_root\": " << quoted(path(work.staging))
        << ",\n\"deletions\": [";
  std::set<const TreeFile*> deleted, added;
  const char* separator = "\n";
  for (const Entry& entry : entries) {
    if (entry.kind != 'D') continue;
    deleted.insert(entry.file);
    state << separator << quoted(entry.file->path);
    separator = ",\n";
    floor << "D\t\t" << path(under(work.root, entry.file->path)) << '\t' << path(under(work.backup, entry.file->path))
          << "\t0\t\n";
  }
  state << "],\n\"replacements\": [";
  separator = "\n";
  for (const Entry& entry : entries) {
    if (entry.kind == 'D') continue;
    if (entry.kind == 'N') added.insert(entry.file);
    const fs::path staged = under(work.staging, entry.file->path);
    link(under(dir / "pristine" / "staged", entry.file->path), staged);
    state << separator << "{\"path\": " << quoted(entry.file->path) << ", \"staged_path\": " << quoted(path(staged))
          << ", \"size\": " << entry.file->size << ", \"sha256\": \"" << entry.file->sha256 << "\"}";
    separator = ",\n";
    floor << entry.kind << '\t' << path(staged) << '\t' << path(under(work.root, entry.file->path)) << '\t'
          << (entry.kind == 'R' ? path(under(work.backup, entry.file->path)) : "") << '\t' << entry.file->size << '\t'
          << entry.file->sha256 << '\n';
  }
  state << "],\n\"manifest\": {\"id\": \"build-2\", \"id_mod\": \"bench\", \"channel\": \"stable\", "
           "\"version\": \"2.0.0\", \"status\": \"published\", \"manifest_hash\": \"\", \"total_size\": 0, "
           "\"metadata\": {\"released\": \"2026-12-01\"}, \"files\": [";
  separator = "\n";
  std::size_t manifest_files = 0;
  const auto manifest_file = [&](const std::string& relative, std::uint64_t size, const std::string& sha256) {
    state << separator << "{\"id\": \"file-" << manifest_files << "\", \"path\": " << quoted(relative)
          << ", \"size\": " << size << ", \"sha256\": \"" << sha256 << "\", \"object_key\": "
          << quoted("bench/build-2/" + relative) << ", \"content_type\": \"application/octet-stream\", "
          << "\"metadata\": {}}";
    separator = ",\n";
    ++manifest_files;
  };
  for (const TreeFile& file : tree)
    if (file.kind == 'T' ? !deleted.count(&file) : added.count(&file) != 0)
      manifest_file(file.path, file.size, file.sha256);
  for (std::size_t i = 0; i < extra_manifest_files; ++i) {
    char relative[96];
    std::snprintf(relative, sizeof relative, "archive/part_%03zu/set_%03zu/asset_%07zu.dat", i / 100000,
                  i / 1000 % 100, i);
    manifest_file(relative, i * 37, "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08");
  }
  state << "]}}\n";
  state.close();
  floor.close();
  if (!state || !floor) throw std::runtime_error("cannot write the state file or the floor's list");
  work.listed = entries.size() + manifest_files;
  return work;
}

std::string check_work(const fs::path& dir, const Work& work, const std::vector<Entry>& entries) {
  for (const Entry& entry : entries) {
    const fs::path target = under(work.root, entry.file->path);
    if (entry.kind == 'D') {
      if (fs::exists(target)) return "still installed: " + entry.file->path;
    } else if (inode(target) != inode(under(dir / "pristine" / "staged", entry.file->path))) {
      return "not installed: " + entry.file->path;
    }
    if (entry.kind != 'N' && !fs::exists(under(work.backup, entry.file->path)))
      return "not in the backup: " + entry.file->path;
  }
  return "";
}

}  // namespace korvanta::bench
