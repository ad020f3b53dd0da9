#include "opc/groupnamespace.h"

#include <limits>

#include "test_utils.h"

namespace opc::test {
namespace {

class NamedGroup final : public ComObject<IOPCShutdown> {
 public:
  NamedGroup(std::u16string name, OPCHANDLE handle) : name_(std::move(name)), handle_(handle) {}
  HRESULT ShutdownRequest(LPCWSTR) override { return S_OK; }
  const std::u16string& nameLocked() const { return name_; }
  OPCHANDLE serverHandle() const { return handle_; }

 private:
  std::u16string name_;
  OPCHANDLE handle_;
};

using GroupNameSpaceTest = LeakCheckedTest;

TEST_F(GroupNameSpaceTest, IdsNeverZeroAcrossTheWrap) {
  NonZeroIds ids(std::numeric_limits<DWORD>::max());
  EXPECT_EQ(ids.next(), std::numeric_limits<DWORD>::max());
  EXPECT_EQ(ids.peek(), 1u) << "the id after the wrap, not 0";
  EXPECT_EQ(ids.next(), 1u);
  EXPECT_EQ(ids.next(), 2u);
}

TEST_F(GroupNameSpaceTest, NamesAreAdmittedOnceAndNoneAfterClosing) {
  GroupNameSpace<NamedGroup> space;
  std::u16string invented;
  ASSERT_EQ(space.admitNameLocked(invented), S_OK);
  EXPECT_EQ(invented, u"Group1");
  space.addLocked(makeCom<NamedGroup>(u"Group2", space.takeHandleLocked()));

  std::u16string next;
  ASSERT_EQ(space.admitNameLocked(next), S_OK);
  EXPECT_EQ(next, u"Group3") << "an invented name skips the used ones";
  std::u16string taken = u"Group2";
  EXPECT_EQ(space.admitNameLocked(taken), OPC_E_DUPLICATENAME);
  NamedGroup* group = space.findLocked(u"Group2");
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(space.findLocked(u"Group2", group), nullptr) << "a group does not collide with itself";

  EXPECT_FALSE(space.takeLocked(group->serverHandle() + 1));
  ComPtr<NamedGroup> held = space.takeLocked(group->serverHandle());
  ASSERT_TRUE(held);
  EXPECT_EQ(removedGroupResult(ComPtr<NamedGroup>(held.get()), FALSE), OPC_S_INUSE);
  space.addLocked(std::move(held));

  const auto dropped = space.closeLocked();
  EXPECT_EQ(dropped.size(), 1u);
  EXPECT_TRUE(space.groupsLocked().empty());
  std::u16string late = u"Late";
  EXPECT_EQ(space.admitNameLocked(late), RPC_E_DISCONNECTED);
}

}  // namespace
}  // namespace opc::test
