// The class rows the panel installs: a class that is built must reach the
// class table as its own row, never as the placeholder of a class not built
// (both are named the same, and a static library takes whichever it meets
// first).
#include "objects/objects.h"
#include "panel_fixture.h"
#include "system/wiring.h"

TEST(ObjectClasses, BuiltClassesAreInstalledWithTheirOperations) {
    System_Wire();
    for (int type : {0, 1, 4, 5, 6, 7, 8, 22, 23}) {
        const ObjClass *row = Objects_Class(type);
        ASSERT_NE(row, nullptr) << type;
        EXPECT_NE(row->Create, nullptr) << "type " << type << " is a placeholder";
        EXPECT_EQ(oDefTbl[type], row) << type;
    }
}
