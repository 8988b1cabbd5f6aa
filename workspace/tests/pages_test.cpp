// The four pages in their host window against the embedded emulator.
#include "workspace/tests/workspace_test_support.h"

namespace quillora::workspace::testing {
namespace {

using namespace DirectUI;

TEST_F(PagesTest, Smoke) {
  OpenHost(100);
  Shot("doc_empty");
  ShowTab(3);
  Shot("text_empty");
}

}  // namespace
}  // namespace quillora::workspace::testing
