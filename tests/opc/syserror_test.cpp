#include "test_utils.h"

namespace opc::test {
namespace {

TEST(SystemTexts, CommonCodesHaveTheSystemWording) {
  EXPECT_EQ(systemErrorText(E_FAIL), "Unspecified error");
  EXPECT_EQ(systemErrorText(E_NOINTERFACE), "No such interface supported");
  EXPECT_EQ(systemErrorText(E_INVALIDARG), "The parameter is incorrect.");
  EXPECT_EQ(systemErrorText(E_OUTOFMEMORY),
            "Not enough memory resources are available to complete this operation.");
  EXPECT_EQ(systemErrorText(REGDB_E_CLASSNOTREG), "Class not registered");
  EXPECT_EQ(systemErrorText(CO_E_CLASSSTRING), "Invalid class string");
  EXPECT_EQ(systemErrorText(hresult(0x800706BA)), "The RPC server is unavailable.");
  EXPECT_EQ(systemErrorText(RPC_E_TOO_LATE),
            "Security must be initialized before any interfaces are marshalled or "
            "unmarshalled. It cannot be changed once initialized.");
  EXPECT_EQ(systemErrorText(DISP_E_TYPEMISMATCH), "Type mismatch.");
  EXPECT_EQ(systemErrorText(DISP_E_OVERFLOW), "Out of present range.");
}

TEST(SystemTexts, EveryCodeTheLayerReturnsHasAText) {
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

TEST(SystemTexts, UnknownCodesFallBackToTheGenericWording) {
  EXPECT_EQ(systemErrorText(hresult(0xC0040007)), "");
  EXPECT_EQ(comErrorMessage(hresult(0xC0040007)), "Error 0xC0040007");
  EXPECT_EQ(comErrorMessage(hresult(0x8000ABCD)), "Error 0x8000ABCD");
  EXPECT_EQ(comErrorMessage(E_ABORT), "Operation aborted");
}

}  // namespace
}  // namespace opc::test
