// OPC result code texts and OPCCheck.
#include "test_utils.h"

using namespace core_test;

namespace {

TEST(OPCErrorsTest, GetOPCErrorMessage_HasExactlyTheTwentyTwoCodes) {
  int withText = 0;
  for (quint32 facility : {0x00040000u, 0xC0040000u})
    for (quint32 low = 0; low < 0x400; ++low)
      if (!GetOPCErrorMessage(hresult(facility | low)).isEmpty()) ++withText;
  EXPECT_EQ(withText, 22);
  for (quint32 code : {0u, 0xC0040002u, 0xC0040003u, 0xC004000Du, 0xC004000Eu, 0xC004000Fu,
                       0x80004005u, 0x00040001u})
    EXPECT_EQ(GetOPCErrorMessage(hresult(code)), "") << hr(hresult(code));
}

TEST(OPCErrorsTest, GetOPCErrorMessage_Texts) {
  EXPECT_EQ(GetOPCErrorMessage(OPC_E_UNKNOWNITEMID),
            "The item is no longer available in the server address space.");
  EXPECT_EQ(GetOPCErrorMessage(OPC_S_ALREADYACKED), "The condition has already been acknowleged");
  EXPECT_EQ(GetOPCErrorMessage(hresult(0xC0040204)), GetOPCErrorMessage(OPC_E_BUSY));
  EXPECT_EQ(GetOPCErrorMessage(OPC_E_BUSY), "A refresh is currently in progress");
  EXPECT_EQ(GetOPCErrorMessage(OPC_S_UNSUPPORTEDRATE),
            "The server does not support the requested data rate\r\nbut will use the closest "
            "available rate.");
  EXPECT_EQ(GetOPCErrorMessage(OPC_S_INUSE),
            "The operation cannot be completed because the\r\nobject still has references that "
            "exist.");
  EXPECT_EQ(GetOPCErrorMessage(OPC_E_BADTYPE),
            "The server cannot convert the data between the\r\nrequested data type and the "
            "canonical data");
}

TEST(OPCErrorsTest, OPCCheck_SuccessCodesNeverRaise) {
  for (HRESULT code : {S_OK, S_FALSE, OPC_S_CLAMP, OPC_S_UNSUPPORTEDRATE, hresult(0x7FFFFFFF)})
    EXPECT_NO_THROW(OPCCheck(code)) << hr(code);
}

TEST(OPCErrorsTest, OPCCheck_FailureWithText_RaisesEOPCException) {
  try {
    OPCCheck(OPC_E_UNKNOWNITEMID);
    FAIL() << "no exception";
  } catch (const EOPCException& e) {
    EXPECT_EQ(e.Message(), "The item is no longer available in the server address space.");
    EXPECT_STREQ(e.ClassName(), "EOPCException");
  }
}

TEST(OPCErrorsTest, OPCCheck_FailureWithoutText_RaisesComErrorWithSystemText) {
  try {
    OPCCheck(E_FAIL);
    FAIL() << "no exception";
  } catch (const EOPCException&) {
    FAIL() << "a code without an OPC text is the platform's error";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), E_FAIL);
    EXPECT_EQ(e.Message(), "Unspecified error");
  }
  // Unknown to the system too: the generic wording, still with the code.
  try {
    OPCCheck(hresult(0xC0040002));
    FAIL() << "no exception";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), hresult(0xC0040002));
    EXPECT_FALSE(e.Message().isEmpty());
  }
}

TEST(OPCErrorsTest, ResourceStrings_KeepTheirTextsAndFormat) {
  EXPECT_EQ(_STR_NOTACTIVE(), "not connected to server");
  EXPECT_EQ(_STR_NODCOM(), "Failed to initialize DCOM security");
  EXPECT_EQ(_STR_WRONGFILE(), "wrong fileformat");
  EXPECT_EQ(Format(_STR_UNKNOWN(), {OPC_E_UNKNOWNITEMID}), "unknown error : -1073479673");
  EXPECT_EQ(Format(_STR_NOREGISTER(), {QString("Srv.1"), QString("host")}),
            "OPC Server Srv.1 not found on computer host");
  EXPECT_EQ(Format(_STR_GROUPEXITS(), {QString()}), "group  already exists");
}

TEST(OPCErrorsTest, Format_RejectsMissingOrMismatchedArguments) {
  EXPECT_THROW(Format("%s and %s", {QString("one")}), EConvertError);
  EXPECT_THROW(Format("%d", {QString("text")}), EConvertError);
  EXPECT_THROW(Format("%s", {42}), EConvertError);
  EXPECT_THROW(Format("50%", {}), EConvertError);
  EXPECT_EQ(Format("100%% of %x", {255}), "100% of FF");
}

}  // namespace
