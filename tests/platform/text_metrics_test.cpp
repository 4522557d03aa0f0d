#include "Canvas.h"
#include <gtest/gtest.h>
using namespace folio;
TEST(Smoke, Arial) {
    Bitmap b; b.SetSize(400, 100); Canvas c(b);
    c.Font.Name = "Arial"; c.Font.Size = 25;
    EXPECT_EQ(c.TextHeight("Yy"), 37);
    EXPECT_EQ(c.TextWidth(" "), 9);
    EXPECT_EQ(c.TextWidth("Folioset"), 114);
    c.TextOut(0,0,"Folioset");
    EXPECT_GT(b.CountBlack(), 100u);
}
