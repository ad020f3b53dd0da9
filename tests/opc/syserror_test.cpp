#include "test_utils.h"

namespace opc::test {
namespace {

using SystemTexts = veze6::test::LeakCheckedTest;

TEST_F(SystemTexts, EveryCodeTheLayerReturnsHasAText) {
  const HRESULT codes[] = {
      E_UNEXPECTED,
      E_NOTIMPL,
      E_POINTER,
      E_ABORT,
      E_PENDING,
      E_ACCESSDENIED,
      E_HANDLE,
      OLE_E_ADVISENOTSUPPORTED,
      DV_E_FORMATETC,
      CLASS_E_NOAGGREGATION,
      CONNECT_E_NOCONNECTION,
      CONNECT_E_ADVISELIMIT,
      CONNECT_E_CANNOTCONNECT,
      CO_E_SERVER_EXEC_FAILURE,
      DISP_E_BADVARTYPE,
      DISP_E_BADINDEX,
      DISP_E_ARRAYISLOCKED,
      RPC_E_DISCONNECTED,
  };
  for (HRESULT hr : codes) {
    const std::string text = systemErrorText(hr);
    EXPECT_FALSE(text.empty()) << std::hex << hr;
    EXPECT_NE(text.back(), '\n');
  }
}

TEST_F(SystemTexts, UnknownCodesFallBackToTheGenericWording) {
  EXPECT_EQ(systemErrorText(hresult(0xC0040007)), "");
  EXPECT_EQ(comErrorMessage(hresult(0xC0040007)), "Error 0xC0040007");
  EXPECT_EQ(comErrorMessage(hresult(0x8000ABCD)), "Error 0x8000ABCD");
  EXPECT_EQ(comErrorMessage(E_ABORT), "Operation aborted");
}

}  // namespace
}  // namespace opc::test
