#include "platform/KeyedArchive.h"

#include <gtest/gtest.h>

#include "platform/PropertyList.h"

namespace platform {
namespace {

// A small object graph: a clip with a nested source and a list of markers.
struct Source : Archivable {
  std::string path;
  std::string className() const override { return "Source"; }
  void encode(KeyedArchiveEncoder& encoder) const override { encoder.encodeValue("path", Value(path)); }
  static Result<std::shared_ptr<Archivable>> decode(const KeyedArchiveDecoder& decoder) {
    Result<Value> path = decoder.requireValue("path", Value::Type::String);
    if (!path.ok()) return path.error();
    auto source = std::make_shared<Source>();
    source->path = *path->string();
    return std::shared_ptr<Archivable>(source);
  }
};

struct Marker : Archivable {
  std::int64_t frame = 0;
  std::string className() const override { return "Marker"; }
  void encode(KeyedArchiveEncoder& encoder) const override { encoder.encodeValue("frame", Value(frame)); }
  static Result<std::shared_ptr<Archivable>> decode(const KeyedArchiveDecoder& decoder) {
    auto marker = std::make_shared<Marker>();
    marker->frame = decoder.value("frame").integerOr(-1);
    return std::shared_ptr<Archivable>(marker);
  }
};

struct Clip : Archivable {
  std::string name;
  double duration = 0;
  Data thumbnail;
  std::shared_ptr<Source> source;  // optional
  std::vector<std::shared_ptr<Marker>> markers;

  std::string className() const override { return "Clip"; }
  void encode(KeyedArchiveEncoder& encoder) const override {
    encoder.encodeValue("name", Value(name));
    encoder.encodeValue("duration", Value(duration));
    encoder.encodeValue("thumbnail", Value(thumbnail));
    encoder.encodeValue("comment", Value());  // none: left out
    encoder.encodeObject("source", source);
    encoder.encodeObjects("markers", markers);
  }
  static Result<std::shared_ptr<Archivable>> decode(const KeyedArchiveDecoder& decoder) {
    auto clip = std::make_shared<Clip>();
    clip->name = decoder.value("name").stringOr("");
    clip->duration = decoder.value("duration").realOr(0);
    if (const Data* data = decoder.value("thumbnail").data()) clip->thumbnail = *data;
    if (decoder.contains("source")) {
      Result<std::shared_ptr<Source>> source = decoder.decodeObjectAs<Source>("source");
      if (!source.ok()) return source.error();
      clip->source = *source;
    }
    Result<std::vector<std::shared_ptr<Marker>>> markers = decoder.decodeObjectsAs<Marker>("markers");
    if (!markers.ok()) return markers.error();
    clip->markers = std::move(*markers);
    return std::shared_ptr<Archivable>(clip);
  }
};

// Encodes whatever it is given, to provoke encoder errors.
struct Misbehaving : Archivable {
  std::function<void(KeyedArchiveEncoder&)> body;
  std::string className() const override { return "Misbehaving"; }
  void encode(KeyedArchiveEncoder& encoder) const override { body(encoder); }
};

class KeyedArchiveTest : public ::testing::Test {
 protected:
  KeyedArchiveTest() {
    registry_.registerClass("Clip", &Clip::decode);
    registry_.registerClass("Source", &Source::decode);
    registry_.registerClass("Marker", &Marker::decode);
  }

  static Clip sampleClip() {
    Clip clip;
    clip.name = "Opener & <titles>";
    clip.duration = 12.5;
    clip.thumbnail = Data{0, 1, 2, 255};
    clip.source = std::make_shared<Source>();
    clip.source->path = "/media/opener.mov";
    for (std::int64_t frame : {0, 25, 300}) {
      auto marker = std::make_shared<Marker>();
      marker->frame = frame;
      clip.markers.push_back(marker);
    }
    return clip;
  }

  // Checks the error's domain, code and location.
  static void expectError(const Error& error, KeyedArchiveErrorCode code, const std::string& keyPath) {
    EXPECT_TRUE(error.is(kKeyedArchiveErrorDomain, code)) << error.describe();
    ASSERT_TRUE(error.userInfo.count(kKeyedArchiveKeyPathKey)) << error.describe();
    EXPECT_EQ(error.userInfo.at(kKeyedArchiveKeyPathKey), Value(keyPath)) << error.describe();
  }

  KeyedArchiveRegistry registry_;
};

TEST_F(KeyedArchiveTest, ArchiveHasTheDocumentedShape) {
  Result<Value> archived = archive(sampleClip());
  ASSERT_TRUE(archived.ok()) << archived.error().describe();
  const Value& top = (*archived)["$top"];
  EXPECT_EQ((*archived)["$archiver"], Value("VZKeyedArchive"));
  EXPECT_EQ((*archived)["$version"], Value(1));
  EXPECT_EQ(top["$class"], Value("Clip"));
  EXPECT_EQ(top["name"], Value("Opener & <titles>"));
  EXPECT_FALSE(top.contains("comment"));
  EXPECT_EQ(top["source"], Value(Dictionary{{"$class", Value("Source")}, {"path", Value("/media/opener.mov")}}));
  ASSERT_TRUE(top["markers"].isArray());
  EXPECT_EQ(top["markers"].array()->at(1), Value(Dictionary{{"$class", Value("Marker")}, {"frame", Value(25)}}));
}

TEST_F(KeyedArchiveTest, RoundTripsThroughBytes) {
  const Clip original = sampleClip();
  Result<std::string> bytes = archivedData(original);
  ASSERT_TRUE(bytes.ok()) << bytes.error().describe();
  // The bytes are a plain property list in the house layout.
  Result<Value> asPlist = readPropertyList(*bytes);
  ASSERT_TRUE(asPlist.ok());
  EXPECT_EQ(*writePropertyList(*asPlist), *bytes);

  Result<std::shared_ptr<Clip>> clip = unarchiveAs<Clip>(*bytes, registry_);
  ASSERT_TRUE(clip.ok()) << clip.error().describe();
  EXPECT_EQ((*clip)->name, original.name);
  EXPECT_EQ((*clip)->duration, original.duration);
  EXPECT_EQ((*clip)->thumbnail, original.thumbnail);
  ASSERT_TRUE((*clip)->source);
  EXPECT_EQ((*clip)->source->path, "/media/opener.mov");
  ASSERT_EQ((*clip)->markers.size(), 3u);
  EXPECT_EQ((*clip)->markers[2]->frame, 300);

  // Optional parts left out come back left out.
  Clip bare;
  Result<std::shared_ptr<Clip>> bareRead = unarchiveAs<Clip>(*archive(bare), registry_);
  ASSERT_TRUE(bareRead.ok()) << bareRead.error().describe();
  EXPECT_FALSE((*bareRead)->source);
  EXPECT_TRUE((*bareRead)->markers.empty());
}

// archivedData() writes the XML as the objects encode; its bytes must be the
// tree's, whatever order the keys come in.
TEST_F(KeyedArchiveTest, BytesAreTheWrittenTree) {
  auto clip = std::make_shared<Clip>(sampleClip());
  Misbehaving inner;
  inner.body = [clip](KeyedArchiveEncoder& e) {
    e.encodeValue("zeta", Value("last & <least>"));
    e.encodeObjects("clips", std::vector<std::shared_ptr<Clip>>{clip, clip});
    e.encodeValue("alpha", Value(Dictionary{{"b", Value(Array{Value(1), Value(true)})}, {"a", Value(Dictionary{})}}));
    e.encodeObjects("none", std::vector<std::shared_ptr<Clip>>{});
  };
  Misbehaving outer;
  outer.body = [&inner](KeyedArchiveEncoder& e) {
    e.encodeValue("twice", Value("first"));
    e.encodeObject("inner", inner);
    e.encodeValue("#sorts before $class", Value(Data(100, 7)));
    e.encodeValue("twice", Value("second"));
    e.encodeValue("\xC3\xA9t\xC3\xA9 & <key>", Value(2.5));
  };
  for (const Archivable* object : {static_cast<const Archivable*>(&outer), static_cast<const Archivable*>(clip.get())}) {
    Result<std::string> bytes = archivedData(*object);
    ASSERT_TRUE(bytes.ok()) << bytes.error().describe();
    EXPECT_EQ(*bytes, *writePropertyList(*archive(*object)));
  }
}

TEST_F(KeyedArchiveTest, SharedRegistryIsProcessWide) {
  KeyedArchiveRegistry::shared().registerClass("KeyedArchiveTest.Marker", &Marker::decode);
  Misbehaving object;
  object.body = [](KeyedArchiveEncoder& encoder) { encoder.encodeValue("frame", Value(7)); };
  Value archived = *archive(object);
  archived.dictionary()->at("$top").dictionary()->at("$class") = Value("KeyedArchiveTest.Marker");
  Result<std::shared_ptr<Marker>> marker = unarchiveAs<Marker>(archived);
  KeyedArchiveRegistry::shared().unregisterClass("KeyedArchiveTest.Marker");
  ASSERT_TRUE(marker.ok()) << marker.error().describe();
  EXPECT_EQ((*marker)->frame, 7);
  EXPECT_FALSE(KeyedArchiveRegistry::shared().isRegistered("KeyedArchiveTest.Marker"));
}

TEST_F(KeyedArchiveTest, RefusesArchivesItCannotDecodeSayingWhere) {
  const Value good = *archive(sampleClip());
  auto edited = [&](auto change) {
    Value copy = good;
    change(*copy.dictionary());
    return copy;
  };
  auto top = [](Dictionary& archive) -> Dictionary& { return *archive.at("$top").dictionary(); };
  struct Case {
    const char* name;
    Value archive;
    KeyedArchiveErrorCode code;
    std::string keyPath;
  } cases[] = {
      {"not a dictionary", Value(Array{}), KeyedArchiveErrorCode::Malformed, "the archive"},
      {"wrong archiver", edited([](Dictionary& a) { a["$archiver"] = Value("SomethingElse"); }),
       KeyedArchiveErrorCode::Malformed, "$archiver"},
      {"missing archiver", edited([](Dictionary& a) { a.erase("$archiver"); }), KeyedArchiveErrorCode::Malformed,
       "$archiver"},
      {"future version", edited([](Dictionary& a) { a["$version"] = Value(2); }), KeyedArchiveErrorCode::Malformed,
       "$version"},
      {"version as a string", edited([](Dictionary& a) { a["$version"] = Value("1"); }),
       KeyedArchiveErrorCode::Malformed, "$version"},
      {"missing top", edited([](Dictionary& a) { a.erase("$top"); }), KeyedArchiveErrorCode::Malformed, "$top"},
      {"missing $class", edited([&](Dictionary& a) { top(a).erase("$class"); }), KeyedArchiveErrorCode::Malformed,
       "$top"},
      {"unknown top class", edited([&](Dictionary& a) { top(a)["$class"] = Value("Sequence"); }),
       KeyedArchiveErrorCode::UnknownClass, "$top"},
      {"unknown nested class",
       edited([&](Dictionary& a) { (*top(a)["source"].dictionary())["$class"] = Value("RemoteSource"); }),
       KeyedArchiveErrorCode::UnknownClass, "$top.source"},
      {"nested object of the wrong class",
       edited([&](Dictionary& a) { (*top(a)["source"].dictionary())["$class"] = Value("Marker"); }),
       KeyedArchiveErrorCode::WrongClass, "$top.source"},
      {"array element of the wrong class",
       edited([&](Dictionary& a) { (*(*top(a)["markers"].array())[1].dictionary())["$class"] = Value("Source"); }),
       KeyedArchiveErrorCode::Malformed, "$top.markers[1].path"},
      {"array element not an object",
       edited([&](Dictionary& a) { (*top(a)["markers"].array())[2] = Value(3); }), KeyedArchiveErrorCode::Malformed,
       "$top.markers[2]"},
      {"objects where an array belongs",
       edited([&](Dictionary& a) { top(a)["markers"] = Value(Dictionary{}); }), KeyedArchiveErrorCode::Malformed,
       "$top.markers"},
      {"value of the wrong type", edited([&](Dictionary& a) { (*top(a)["source"].dictionary())["path"] = Value(5); }),
       KeyedArchiveErrorCode::Malformed, "$top.source.path"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Result<std::shared_ptr<Archivable>> object = unarchive(c.archive, registry_);
    ASSERT_FALSE(object.ok());
    expectError(object.error(), c.code, c.keyPath);
  }

  Result<std::shared_ptr<Archivable>> notAPlist = unarchive(std::string_view("<plist><dict>"), registry_);
  ASSERT_FALSE(notAPlist.ok());
  EXPECT_TRUE(notAPlist.error().is(kKeyedArchiveErrorDomain, KeyedArchiveErrorCode::Malformed));
}

TEST_F(KeyedArchiveTest, TypedUnarchiveRefusesAnotherClass) {
  Marker marker;
  Result<std::shared_ptr<Clip>> clip = unarchiveAs<Clip>(*archivedData(marker), registry_);
  ASSERT_FALSE(clip.ok());
  expectError(clip.error(), KeyedArchiveErrorCode::WrongClass, "$top");
  EXPECT_NE(clip.error().localizedDescription.find("\"Marker\""), std::string::npos);
}

TEST_F(KeyedArchiveTest, EncoderRefusesWhatCannotBeArchived) {
  auto self = std::make_shared<Misbehaving>();
  std::weak_ptr<Misbehaving> weakSelf = self;
  self->body = [weakSelf](KeyedArchiveEncoder& encoder) { encoder.encodeObject("next", weakSelf.lock()); };
  struct Case {
    const char* name;
    std::function<void(KeyedArchiveEncoder&)> body;
    std::string keyPath;
  } cases[] = {
      {"reserved key", [](KeyedArchiveEncoder& e) { e.encodeValue("$class", Value("Forged")); }, "$top.$class"},
      {"null in an object array",
       [](KeyedArchiveEncoder& e) {
         e.encodeObjects("markers", std::vector<std::shared_ptr<Marker>>{std::make_shared<Marker>(), nullptr});
       },
       "$top.markers[1]"},
      {"an object holding itself", [self](KeyedArchiveEncoder& e) { e.encodeObject("loop", *self); },
       "$top.loop" + [] {
         std::string rest;
         for (int i = 1; i < kKeyedArchiveMaxDepth; ++i) rest += ".next";
         return rest;
       }()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Misbehaving object;
    object.body = c.body;
    Result<Value> archived = archive(object);
    ASSERT_FALSE(archived.ok());
    expectError(archived.error(), KeyedArchiveErrorCode::UnsupportedValue, c.keyPath);
  }

  // A value the property-list writer refuses surfaces from archivedData().
  Misbehaving unwritable;
  unwritable.body = [](KeyedArchiveEncoder& e) { e.encodeValue("list", Value(Array{Value()})); };
  ASSERT_TRUE(archive(unwritable).ok());
  Result<std::string> bytes = archivedData(unwritable);
  ASSERT_FALSE(bytes.ok());
  EXPECT_TRUE(bytes.error().is(kKeyedArchiveErrorDomain, KeyedArchiveErrorCode::UnsupportedValue));
  EXPECT_NE(bytes.error().localizedDescription.find("$top.list[0]"), std::string::npos)
      << bytes.error().localizedDescription;
}

}  // namespace
}  // namespace platform
