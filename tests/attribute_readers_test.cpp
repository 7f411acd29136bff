// Attribute readers: every failure is the empty text, geometry is written as
// whole numbers truncated toward zero.
#include <cmath>
#include <limits>

#include "ax/attribute_readers.h"
#include "tests/sim_fixture.h"

namespace focusctl::test {
namespace {

class AttributeReadersTest : public SimTest {
 protected:
  // Reads one attribute answering `answer` with each of the three readers:
  // {string, point, size}.
  std::array<std::string, 3> readAll(const sim::Answer& answer) {
    const sim::App& app = sim::addApp(7);
    sim::element(app.element).attributes["A"] = answer;
    const platform::Element element = platform::createApplicationElement(7);
    std::array<std::string, 3> read = {stringAttribute(element, "A"),
                                       pointAttribute(element, "A"),
                                       sizeAttribute(element, "A")};
    EXPECT_EQ(stringAttribute(element, "Missing"), "");
    EXPECT_EQ(pointAttribute(element, "Missing"), "");
    EXPECT_EQ(sizeAttribute(element, "Missing"), "");
    return read;
  }
};

TEST_F(AttributeReadersTest, EachReaderTakesOnlyItsKind) {
  using R = std::array<std::string, 3>;
  EXPECT_EQ(readAll(sim::text("hello")), (R{"hello", "", ""}));
  EXPECT_EQ(readAll(sim::text("")), (R{"", "", ""}));
  EXPECT_EQ(readAll(sim::point(1, 2)), (R{"", "{1,2}", ""}));
  EXPECT_EQ(readAll(sim::size(3, 4)), (R{"", "", "{3,4}"}));
  EXPECT_EQ(readAll(sim::otherKind()), (R{"", "", ""}));
  EXPECT_EQ(readAll(sim::noValue()), (R{"", "", ""}));
  EXPECT_EQ(readAll(sim::link(sim::systemWide)), (R{"", "", ""}));
  EXPECT_EQ(readAll(sim::failure(sim::code::noValue)), (R{"", "", ""}));
  // A value that comes with an error code is not used (and is given up).
  for (sim::Answer answer : {sim::text("x"), sim::point(1, 2), sim::size(1, 2),
                             sim::link(sim::systemWide)}) {
    answer.code = sim::code::cannotComplete;
    EXPECT_EQ(readAll(answer), (R{"", "", ""}));
  }
}

TEST(GeometryText, TruncatesTowardZero) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double two63 = 9223372036854775808.0;
  struct Case {
    double a, b;
    std::string text;
  };
  const std::vector<Case> cases = {
      {12.7, -3.2, "{12,-3}"},
      {-0.5, 0.0, "{0,0}"},
      {-0.0, -0.4, "{0,0}"},
      {-3.9, 3.9, "{-3,3}"},
      {800, 600, "{800,600}"},
      {0, 0, "{0,0}"},
      {-two63, 0, "{-9223372036854775808,0}"},
      {9223372036854774784.0, 1, "{9223372036854774784,1}"},  // below 2^63
      {two63, 0, ""},
      {0, -two63 * 2, ""},
      {1e300, 1, ""},
      {nan, 1, ""},
      {1, -nan, ""},
      {inf, 1, ""},
      {1, -inf, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(geometryText(c.a, c.b), c.text) << c.a << ", " << c.b;
  }
}

}  // namespace
}  // namespace focusctl::test
