// The grid-of-points dialog's fields without the widgets: the [points] keys
// shown in the user's decimal separator and typed fields turned back into
// keys with the decimal point, the refusals that name the field, and the
// summary that stands in the data file field.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "PointGridForm.h"

namespace globelayers {
namespace {

TPointGridText Points(std::vector<TZoneKeyText> keys) { return {"/d/map.ini", std::move(keys)}; }

TEST(PointGridForm, KeysBecomeFieldsInTheUsersSeparator) {
  struct Case {
    const char* name;
    std::vector<TZoneKeyText> keys;
    char separator;
    TPointGridFields fields;
  };
  const Case cases[] = {
      {"global at 10 km", {{"grid", "-180;180;-90;90;1"}, {"height", "10000"}}, '.',
       {"-180", "180", "-90", "90", "1", false, "10000", false}},
      {"decimal comma, above the surface, GeoTIFF",
       {{"grid", " 10.5 ; 11.5;-1;0 ;0.25 "}, {"height", "surface+2.5"}, {"geotiff", "1"}}, ',',
       {"10,5", "11,5", "-1", "0", "0,25", true, "2,5", true}},
      {"the surface itself, keys in any case", {{"HEIGHT", " Surface"}, {"Grid", "0;1;0;1;0.5"}}, '.',
       {"0", "1", "0", "1", "0.5", true, "0", false}},
      {"below the surface", {{"height", "surface-100"}}, ',', {"", "", "", "", "", true, "-100", false}},
      {"a grid cut short keeps what it has", {{"grid", "1;2"}, {"geotiff", "0"}}, '.',
       {"1", "2", "", "", "", false, "0", false}},
      {"no keys", {}, ',', {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TPointGridFields f = PointGridToFields(Points(c.keys), c.separator);
    EXPECT_EQ(f.westDegText, c.fields.westDegText);
    EXPECT_EQ(f.eastDegText, c.fields.eastDegText);
    EXPECT_EQ(f.southDegText, c.fields.southDegText);
    EXPECT_EQ(f.northDegText, c.fields.northDegText);
    EXPECT_EQ(f.stepDegText, c.fields.stepDegText);
    EXPECT_EQ(f.aboveSurface, c.fields.aboveSurface);
    EXPECT_EQ(f.heightMText, c.fields.heightMText);
    EXPECT_EQ(f.geotiff, c.fields.geotiff);
  }
}

TEST(PointGridForm, FieldsBecomeKeysWithTheDecimalPoint) {
  struct Case {
    const char* name;
    TPointGridFields fields;
    char separator;
    std::string grid, height, geotiff;  // the keys' values
  };
  const Case cases[] = {
      {"decimal comma", {"10,5", " 11,5", "-1", "0", "0,25 ", true, "2,5", true}, ',', "10.5;11.5;-1;0;0.25",
       "surface+2.5", "1"},
      {"below the surface keeps its sign", {"0", "1", "0", "1", "0.5", true, "-100", false}, '.', "0;1;0;1;0.5",
       "surface-100", "0"},
      {"constant height", {"-180", "180", "-90", "90", "1", false, "10000", false}, '.', "-180;180;-90;90;1",
       "10000", "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TPointGridFieldsCheck check = FieldsToPointGrid(c.fields, c.separator, "/d/map.ini");
    ASSERT_TRUE(check.ok()) << check.message;
    EXPECT_EQ(check.points.settingsFile, "/d/map.ini");
    ASSERT_EQ(check.points.keys.size(), 3u);
    EXPECT_EQ(check.points.keys[0].key, "grid");
    EXPECT_EQ(check.points.keys[0].value, c.grid);
    EXPECT_EQ(check.points.keys[1].key, "height");
    EXPECT_EQ(check.points.keys[1].value, c.height);
    EXPECT_EQ(check.points.keys[2].key, "geotiff");
    EXPECT_EQ(check.points.keys[2].value, c.geotiff);
    // Shown again in the same separator, the fields come back as typed.
    const TPointGridFields again = PointGridToFields(check.points, c.separator);
    EXPECT_EQ(again.westDegText, c.fields.westDegText);
    EXPECT_EQ(again.heightMText, c.fields.heightMText);
    EXPECT_EQ(again.aboveSurface, c.fields.aboveSurface);
  }
}

TEST(PointGridForm, RefusalsNameTheField) {
  const TPointGridFields good{"0", "10", "40", "50", "0,5", false, "0", false};
  struct Case {
    const char* name;
    std::string TPointGridFields::*field;  // the field typed...
    std::string typed;                     // ...as this
    std::string message;  // exact, or the part a run's refusal must hold
    bool exact;
  };
  const Case cases[] = {
      {"empty west", &TPointGridFields::westDegText, "  ", "Grid of points: West (deg) is empty", true},
      {"step not a number", &TPointGridFields::stepDegText, "half",
       "Grid of points: Step (deg) \"half\" is not a number", true},
      {"height not a number", &TPointGridFields::heightMText, "10 km",
       "Grid of points: Height (m) \"10 km\" is not a number", true},
      {"inverted range: the run's refusal, naming the file", &TPointGridFields::eastDegText, "-10", "/d/map.ini",
       false},
      {"step that does not divide the range", &TPointGridFields::stepDegText, "3", "/d/map.ini", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TPointGridFields f = good;
    f.*c.field = c.typed;
    const TPointGridFieldsCheck check = FieldsToPointGrid(f, ',', "/d/map.ini");
    EXPECT_FALSE(check.ok());
    EXPECT_TRUE(check.points.empty()) << "a refused grid must not reach the settings";
    if (c.exact) {
      EXPECT_EQ(check.message, c.message);
    } else {
      EXPECT_NE(check.message.find(c.message), std::string::npos) << check.message;
    }
  }
}

TEST(PointGridForm, SummaryInTheDataFileField) {
  struct Case {
    const char* name;
    std::vector<TZoneKeyText> keys;
    char separator;
    std::string text;
  };
  const Case cases[] = {
      {"global", {{"grid", "-180;180;-90;90;1"}, {"height", "10000"}}, '.',
       "grid 361 x 181 nodes, step 1 deg, height 10000 m"},
      {"decimal comma, surface, GeoTIFF", {{"grid", "0;1;40;41;0.5"}, {"height", "surface+2.5"}, {"geotiff", "1"}},
       ',', "grid 3 x 3 nodes, step 0,5 deg, height surface+2,5 m, GeoTIFF"},
      {"below the surface", {{"grid", "0;1;40;41;0.25"}, {"height", "surface-100"}}, '.',
       "grid 5 x 5 nodes, step 0.25 deg, height surface-100 m"},
      {"refused", {{"grid", "10;0;40;41;0.5"}}, '.', "grid not usable: Calc tells why"},
      {"none", {}, '.', ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(PointGridSummaryText(Points(c.keys), c.separator), c.text);
  }
}

}  // namespace
}  // namespace globelayers
