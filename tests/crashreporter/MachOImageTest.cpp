// Mach-O images built as bytes here: headers and load commands, sections,
// symbol-table lookups and method names from Objective-C class metadata.

#include <gtest/gtest.h>

#include <string>

#include "MachOImageFixture.h"
#include "crashreporter/Source/MachOImage.h"
#include "crashreporter/Source/MachOObjC.h"

namespace crashreporter {
namespace {

using testing_fixtures::MachOFixture;

struct Found {
  drcrash_error_t error = DRCRASH_EUNKNOWN;
  std::uint64_t address = 0;
  std::string name;
};

void record(std::uint64_t address, const char* name, void* context) {
  auto* found = static_cast<Found*>(context);
  found->address = address;
  found->name = name;
}

// An image with __TEXT, an empty __DATA,__data and __LINKEDIT holding `symbols` (name, type, desc, value
// relative to the text vmaddr) with `externals` of them first when `split`.
struct SymbolImage {
  struct Entry {
    std::string name;
    std::uint8_t type;
    std::uint16_t desc;
    std::uint64_t value;
  };
  MachOFixture image;
  SymbolImage(bool m64, bool swapped, const std::vector<Entry>& symbols, std::uint32_t externals, bool split)
      : image(m64, swapped) {
    image.segment("__TEXT", 0, MachOFixture::kData);
    image.segment("__DATA", MachOFixture::kData, 0x1000, {{"__data", MachOFixture::kData, 0x100}}, MachOFixture::kData);
    image.segment("__LINKEDIT", MachOFixture::kLinkedit, 0x2000, {}, MachOFixture::kLinkedit);
    std::size_t symbolAt = MachOFixture::kLinkedit, stringAt = MachOFixture::kLinkedit + 0x1000 + 1;
    for (const Entry& e : symbols) {
      const auto strx = static_cast<std::uint32_t>(stringAt - (MachOFixture::kLinkedit + 0x1000));
      image.putText(stringAt, e.name);
      stringAt += e.name.size() + 1;
      symbolAt += image.nlist(symbolAt, strx, e.type, e.desc, image.textVmaddr() + e.value);
    }
    const auto count = static_cast<std::uint32_t>(symbols.size());
    image.symtab(MachOFixture::kLinkedit, count, MachOFixture::kLinkedit + 0x1000,
                 static_cast<std::uint32_t>(stringAt - (MachOFixture::kLinkedit + 0x1000)));
    if (split) image.dysymtab(externals, count - externals, 0, externals);
    image.finish();
  }
};

Found lookup(MachOFixture& fixture, std::uint64_t offset) {
  drcrash_async_image_reader reader;
  Found found;
  found.error = drcrash_async_image_reader_init(&reader, fixture.header(), "/Library/Fixture");
  if (found.error != DRCRASH_ESUCCESS) return found;
  found.error = drcrash_async_image_reader_find_symbol(&reader, fixture.address(offset), record, &found);
  drcrash_async_image_reader_free(&reader);
  return found;
}

TEST(MachOImageTest, ReadsHeadersOfBothWidthsAndByteOrders) {
  for (const bool m64 : {false, true}) {
    for (const bool swapped : {false, true}) {
      MachOFixture fixture(m64, swapped);
      fixture.segment("__PAGEZERO", 0, 0);
      fixture.segment("__TEXT", 0, 0x2000, {{"__text", 0x1000, 0x80}, {"__unwind_info", 0x1100, 0x40}});
      fixture.finish();
      drcrash_async_image_reader reader;
      ASSERT_EQ(drcrash_async_image_reader_init(&reader, fixture.header(), "/Library/Fixture"), DRCRASH_ESUCCESS) << m64 << swapped;
      EXPECT_EQ(reader.m64, m64);
      EXPECT_EQ(reader.header_size, m64 ? 32u : 28u);
      EXPECT_EQ(drcrash_async_image_reader_cpu_type(&reader), m64 ? 0x01000007u : 7u);
      EXPECT_EQ(static_cast<std::uint64_t>(reader.vm_slide), fixture.slide());
      EXPECT_EQ(reader.text_size, 0x2000u);
      EXPECT_TRUE(drcrash_async_image_reader_contains_address(&reader, fixture.address(0x1fff)));
      EXPECT_FALSE(drcrash_async_image_reader_contains_address(&reader, fixture.address(0x2000)));
      drcrash_async_mobject section;
      ASSERT_EQ(drcrash_async_image_reader_map_section(&reader, "__TEXT", "__unwind_info", &section), DRCRASH_ESUCCESS);
      EXPECT_EQ(section.target_address, fixture.address(0x1100));
      EXPECT_EQ(section.length, 0x40u);
      EXPECT_EQ(drcrash_async_image_reader_map_section(&reader, "__TEXT", "__eh_frame", &section), DRCRASH_ENOTFOUND);
      EXPECT_EQ(drcrash_async_image_reader_map_section(&reader, "__PAGEZERO", "__text", &section), DRCRASH_ENOTFOUND);
      EXPECT_EQ(drcrash_async_image_reader_map_section(&reader, "__DATA", "__data", &section), DRCRASH_ENOTFOUND);
      drcrash_async_image_reader_free(&reader);
    }
  }
}

TEST(MachOImageTest, RefusesBrokenHeadersAndCommands) {
  drcrash_async_image_reader reader;
  MachOFixture fat(true, false);
  fat.segment("__TEXT", 0, 0x2000);
  fat.finish(0xBEBAFECA);  // the universal file's magic as stored
  EXPECT_EQ(drcrash_async_image_reader_init(&reader, fat.header(), "fat"), DRCRASH_EINVAL);

  MachOFixture shortCommand(true, false);
  shortCommand.rawCommand(0x2, 4, 8);  // cmdsize 4: the walk ends before __TEXT
  shortCommand.segment("__TEXT", 0, 0x2000);
  shortCommand.finish();
  EXPECT_EQ(drcrash_async_image_reader_init(&reader, shortCommand.header(), "short"), DRCRASH_EINVAL);

  MachOFixture noText(false, false);
  noText.segment("__DATA", 0x2000, 0x1000);
  noText.finish();
  EXPECT_EQ(drcrash_async_image_reader_init(&reader, noText.header(), "no text"), DRCRASH_EINVAL);

  EXPECT_EQ(drcrash_async_image_reader_init(&reader, 8, "unreadable"), DRCRASH_EINTERNAL);

  MachOFixture cutSections(true, false);
  cutSections.segment("__TEXT", 0, 0x2000);
  cutSections.rawCommand(0x19, 72, 72);  // claims sections it does not hold
  cutSections.finish();
  std::memcpy(cutSections.at(32 + 72 + 8), "__DATA", 7);
  cutSections.put32(32 + 72 + 64, 3);
  ASSERT_EQ(drcrash_async_image_reader_init(&reader, cutSections.header(), "cut"), DRCRASH_ESUCCESS);
  drcrash_async_mobject section;
  EXPECT_EQ(drcrash_async_image_reader_map_section(&reader, "__DATA", "__data", &section), DRCRASH_EINVAL);
  drcrash_async_image_reader_free(&reader);
}

TEST(MachOImageTest, FindsTheSymbolThatHoldsAnAddress) {
  const std::vector<SymbolImage::Entry> symbols = {
      {"_playCue", 0x0F, 0, 0x1000},       // external
      {"_thumbStep", 0x0F, 0x0008, 0x1100},  // Thumb definition: one byte later
      {"_shared", 0x0F, 0, 0x1200},
      {"_helper", 0x0E, 0, 0x1080},        // local
      {"_sharedLocal", 0x0E, 0, 0x1200},   // local at the external's value
      {"_stab", 0x24, 0, 0x1300},          // a debugging entry
      {"_undefined", 0x01, 0, 0x1400},     // not defined in a section
  };
  for (const bool m64 : {false, true}) {
    for (const bool swapped : {false, true}) {
      SymbolImage fixture(m64, swapped, symbols, 3, true);
      const struct {
        std::uint64_t offset;
        drcrash_error_t error;
        const char* name;
        std::uint64_t start;
      } cases[] = {
          {0x0fff, DRCRASH_ENOTFOUND, "", 0},   // below every symbol
          {0x1000, DRCRASH_ESUCCESS, "_playCue", 0x1000},
          {0x1090, DRCRASH_ESUCCESS, "_helper", 0x1080},
          {0x1100, DRCRASH_ESUCCESS, "_helper", 0x1080},  // the Thumb symbol starts at 0x1101
          {0x1101, DRCRASH_ESUCCESS, "_thumbStep", 0x1101},
          {0x1250, DRCRASH_ESUCCESS, "_shared", 0x1200},  // external before local
          {0x1350, DRCRASH_ESUCCESS, "_shared", 0x1200},
          {0x1500, DRCRASH_ESUCCESS, "_shared", 0x1200},
      };
      for (const auto& c : cases) {
        const Found found = lookup(fixture.image, c.offset);
        EXPECT_EQ(found.error, c.error) << m64 << swapped << " " << std::hex << c.offset;
        if (c.error != DRCRASH_ESUCCESS) continue;
        EXPECT_EQ(found.name, c.name) << m64 << swapped << " " << std::hex << c.offset;
        EXPECT_EQ(found.address, fixture.image.address(c.start)) << m64 << swapped << " " << std::hex << c.offset;
      }
    }
  }
  // Without LC_DYSYMTAB the whole table is searched in order: the first at one value wins.
  SymbolImage whole(true, false, {{"_local", 0x0E, 0, 0x1000}, {"_global", 0x0F, 0, 0x1000}}, 0, false);
  EXPECT_EQ(lookup(whole.image, 0x1010).name, "_local");
}

TEST(MachOImageTest, SymbolTableErrors) {
  MachOFixture noSymtab(true, false);
  noSymtab.segment("__TEXT", 0, 0x2000);
  noSymtab.finish();
  EXPECT_EQ(lookup(noSymtab, 0x1000).error, DRCRASH_ENOTFOUND);

  MachOFixture noLinkedit(true, false);
  noLinkedit.segment("__TEXT", 0, 0x2000);
  noLinkedit.symtab(MachOFixture::kLinkedit, 1, MachOFixture::kLinkedit + 0x100, 8);
  noLinkedit.finish();
  EXPECT_EQ(lookup(noLinkedit, 0x1000).error, DRCRASH_EINTERNAL);

  MachOFixture outside(true, false);
  outside.segment("__TEXT", 0, 0x2000);
  outside.segment("__LINKEDIT", MachOFixture::kLinkedit, 0x1000, {}, MachOFixture::kLinkedit);
  outside.symtab(MachOFixture::kLinkedit, 0x1000, MachOFixture::kLinkedit, 8);  // 64 KiB of symbols in 4 KiB
  outside.finish();
  EXPECT_EQ(lookup(outside, 0x1000).error, DRCRASH_EINTERNAL);

  SymbolImage badSplit(true, false, {{"_a", 0x0F, 0, 0x1000}, {"_b", 0x0E, 0, 0x1010}}, 1, false);
  badSplit.image.dysymtab(1, 5, 0, 1);  // more locals than symbols
  badSplit.image.finish();
  EXPECT_EQ(lookup(badSplit.image, 0x1000).error, DRCRASH_EINVAL);
}

// ---- class metadata ----

// A 64-bit image with a realized class Cue (instance methods play, stop; class
// method sharedCue), an unrealized class Ghost (method haunt) and a category
// on Cue (fade). Implementations are offsets into __TEXT.
class ObjcImage {
 public:
  static constexpr std::size_t kPlay = 0x1200, kStop = 0x1280, kShared = 0x1300, kHaunt = 0x1380, kFade = 0x1400;

  explicit ObjcImage(const std::string& className = "Cue", bool withSymbols = false, bool withCategories = true)
      : image_(true, false) {
    constexpr std::size_t kConst = 0x2000, kClassList = 0x3000, kCatList = 0x3100, kObjcData = 0x3200, kData = 0x3800;
    image_.segment("__TEXT", 0, MachOFixture::kData);
    std::vector<MachOFixture::Section> sections = {{"__objc_const", kConst, 0x1000}, {"__objc_classlist", kClassList, 16},
                                                   {"__objc_data", kObjcData, 0x400}, {"__data", kData, 0x400}};
    if (withCategories) sections.push_back({"__objc_catlist", kCatList, 8});
    image_.segment("__DATA", MachOFixture::kData, 0x2000, sections);
    if (withSymbols) {
      image_.segment("__LINKEDIT", MachOFixture::kLinkedit, 0x2000, {}, MachOFixture::kLinkedit);
      image_.putText(MachOFixture::kLinkedit + 0x1001, "_playAlias");
      image_.nlist(MachOFixture::kLinkedit, 1, 0x0F, 0, image_.vmaddr(kPlay));
      image_.symtab(MachOFixture::kLinkedit, 1, MachOFixture::kLinkedit + 0x1000, 12);
    }
    image_.finish();
    std::size_t text = 0x1800;
    auto string = [&](const std::string& s) {
      image_.putText(text, s);
      const std::uint64_t at = image_.address(text);
      text += s.size() + 1;
      return at;
    };
    std::size_t constAt = kConst;
    auto methodList = [&](std::vector<std::pair<std::string, std::size_t>> methods) {
      const std::size_t list = constAt;
      image_.put32(list, 24);
      image_.put32(list + 4, static_cast<std::uint32_t>(methods.size()));
      for (std::size_t i = 0; i < methods.size(); ++i) {
        image_.put64(list + 8 + i * 24, string(methods[i].first));
        image_.put64(list + 8 + i * 24 + 16, image_.address(methods[i].second));
      }
      constAt += 8 + methods.size() * 24;
      return image_.address(list);
    };
    auto readOnly = [&](std::uint64_t name, std::uint64_t methods) {
      const std::size_t record = constAt;
      image_.put64(record + 24, name);
      image_.put64(record + 32, methods);
      constAt += 72;
      return image_.address(record);
    };
    std::size_t dataAt = kData;
    auto readWrite = [&](std::uint32_t flags, std::uint64_t ro) {
      image_.put32(dataAt, flags);
      image_.put64(dataAt + 8, ro);
      dataAt += 16;
      return image_.address(dataAt - 16);
    };
    const std::uint64_t cueName = string(className);
    const std::uint64_t cueRo = readOnly(cueName, methodList({{"play", kPlay}, {"stop", kStop}}));
    const std::uint64_t metaRo = readOnly(cueName, methodList({{"sharedCue", kShared}}));
    const std::uint64_t ghostRo = readOnly(string("Ghost"), methodList({{"haunt", kHaunt}}));
    // class records: isa, superclass, cache, vtable, data
    const std::size_t cue = kObjcData, cueMeta = kObjcData + 40, ghost = kObjcData + 80;
    image_.put64(cue, image_.address(cueMeta) | 1);  // a tagged isa: masked
    image_.put64(cue + 32, readWrite(1u << 31, cueRo) | 2);
    image_.put64(cueMeta + 32, readWrite(1u << 31, metaRo));
    image_.put64(ghost + 32, readWrite(0, ghostRo));  // not realized
    image_.put64(kClassList, image_.address(ghost));
    image_.put64(kClassList + 8, image_.address(cue));
    // category: name, class, instance methods, class methods, protocols, properties
    const std::size_t category = constAt;
    constAt += 48;
    image_.put64(category, string("Fading"));
    image_.put64(category + 8, image_.address(cue));
    image_.put64(category + 16, methodList({{"fade", kFade}}));
    image_.put64(kCatList, image_.address(category));
  }

  Found best(std::size_t offset, std::uint32_t strategy, bool withCache = true) {
    drcrash_async_image_reader reader;
    Found found;
    if (drcrash_async_image_reader_init(&reader, image_.header(), "/Library/Objc") != DRCRASH_ESUCCESS) return found;
    drcrash_async_objc_scan_cache cache;
    drcrash_async_objc_cache_init(&cache);
    found.error = drcrash_async_find_best_symbol(&reader, strategy, withCache ? &cache : nullptr, image_.address(offset),
                                                 record, &found);
    drcrash_async_objc_cache_free(&cache);
    drcrash_async_image_reader_free(&reader);
    return found;
  }
  std::uint64_t address(std::size_t offset) const { return image_.address(offset); }

 private:
  MachOFixture image_;
};

TEST(MachOObjcTest, NamesMethodsFromTheClassMetadata) {
  ObjcImage image;
  const struct {
    std::size_t offset;
    drcrash_error_t error;
    const char* name;
    std::size_t start;
  } cases[] = {
      {ObjcImage::kPlay, DRCRASH_ESUCCESS, "-[Cue play]", ObjcImage::kPlay},
      {ObjcImage::kStop + 0x10, DRCRASH_ESUCCESS, "-[Cue stop]", ObjcImage::kStop},
      {ObjcImage::kShared + 4, DRCRASH_ESUCCESS, "+[Cue sharedCue]", ObjcImage::kShared},
      // haunt belongs to an unrealized class: skipped, and the enumeration goes on
      {ObjcImage::kHaunt + 4, DRCRASH_ESUCCESS, "+[Cue sharedCue]", ObjcImage::kShared},
      {ObjcImage::kFade + 1, DRCRASH_ESUCCESS, "-[Cue fade]", ObjcImage::kFade},
      {ObjcImage::kPlay - 1, DRCRASH_ENOTFOUND, "", 0},
  };
  for (const auto& c : cases) {
    const Found found = image.best(c.offset, 2);
    EXPECT_EQ(found.error, c.error) << std::hex << c.offset;
    if (c.error != DRCRASH_ESUCCESS) continue;
    EXPECT_EQ(found.name, c.name) << std::hex << c.offset;
    EXPECT_EQ(found.address, image.address(c.start)) << std::hex << c.offset;
  }
  EXPECT_EQ(image.best(ObjcImage::kPlay, 2, false).error, DRCRASH_ENOTFOUND) << "no cache: the step fails";

  // Classes without any category: the image has no category list, and that is no error.
  ObjcImage noCategories("Cue", false, false);
  EXPECT_EQ(noCategories.best(ObjcImage::kShared, 2).name, "+[Cue sharedCue]");
  EXPECT_EQ(noCategories.best(ObjcImage::kFade + 1, 2).name, "+[Cue sharedCue]");
}

TEST(MachOObjcTest, BestSymbolPrefersTheMethodAtAnEqualAddressAndFallsBackToTheTable) {
  ObjcImage image("Cue", true);
  EXPECT_EQ(image.best(ObjcImage::kPlay, 1).name, "_playAlias");
  EXPECT_EQ(image.best(ObjcImage::kPlay, 3).name, "-[Cue play]") << "the later result replaces an equal one";
  EXPECT_EQ(image.best(ObjcImage::kPlay, 0).error, DRCRASH_ENOTFOUND);

  // No class metadata at all: the table's answer stands.
  SymbolImage plain(true, false, {{"_main", 0x0F, 0, 0x1000}}, 1, true);
  drcrash_async_image_reader reader;
  ASSERT_EQ(drcrash_async_image_reader_init(&reader, plain.image.header(), "plain"), DRCRASH_ESUCCESS);
  drcrash_async_objc_scan_cache cache;
  drcrash_async_objc_cache_init(&cache);
  Found found;
  EXPECT_EQ(drcrash_async_find_best_symbol(&reader, 3, &cache, plain.image.address(0x1010), record, &found), DRCRASH_ESUCCESS);
  EXPECT_EQ(found.name, "_main");
  drcrash_async_objc_cache_free(&cache);
  drcrash_async_image_reader_free(&reader);
}

TEST(MachOObjcTest, CutsLongNamesToTheBufferWithoutTheClosingBracket) {
  ObjcImage image(std::string(300, 'K'));
  const Found found = image.best(ObjcImage::kPlay, 2);
  ASSERT_EQ(found.error, DRCRASH_ESUCCESS);
  EXPECT_EQ(found.name.size(), kDrcrashSymbolNameSize - 1);
  EXPECT_EQ(found.name, "-[" + std::string(kDrcrashSymbolNameSize - 3, 'K'));
}

}  // namespace
}  // namespace crashreporter
