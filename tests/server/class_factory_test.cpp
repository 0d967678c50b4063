// The class factory as a client reaches it: the DLL loaded with LoadLibrary and
// DllGetClassObject found by name. Covers what the factory hands out, what it refuses,
// the independence of the objects it creates, and when the DLL may be unloaded.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include "com_types/identity.h"
#include "com_types/owners.h"
#include "com_types/tolvane_interface.h"
#include "tests/server/server_dll.h"
#include "tests/support/com_apartment.h"

namespace {

using com_types::ComPtr;
using com_types::kClassId;
using com_types::kInterfaceId;
using com_types::UniqueBstr;

// A pointer value no call would hand out, to see that a failing call nulls it.
void* const kGarbage = reinterpret_cast<void*>(0x1234);

std::wstring Text(BSTR text) { return text ? std::wstring(text, SysStringLen(text)) : std::wstring(); }

class ClassFactory : public test_support::ComApartment {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(ComApartment::SetUp());
    ASSERT_TRUE(server_.Ready()) << "cannot load " << testing::PrintToString(server_tests::ServerDllPath());
    ASSERT_EQ(server_.CanUnloadNow(), S_OK) << "a previous test left something alive";
  }

  ComPtr<IClassFactory> Factory() {
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(server_.GetClassObject(kClassId, IID_IClassFactory, reinterpret_cast<void**>(factory.Put())), S_OK);
    return factory;
  }

  ComPtr<_Tolvane> NewObject(IClassFactory* factory) {
    ComPtr<_Tolvane> object;
    EXPECT_EQ(factory->CreateInstance(nullptr, kInterfaceId, reinterpret_cast<void**>(object.Put())), S_OK);
    return object;
  }

  static std::wstring FileNameOf(_Tolvane* object) {
    BSTR name = nullptr;
    EXPECT_EQ(object->get_IniFileName(&name), S_OK);
    return Text(UniqueBstr(name).Get());
  }
  static std::wstring LastErrorOf(_Tolvane* object) {
    BSTR error = nullptr;
    EXPECT_EQ(object->get_LastErrorA(&error), S_OK);
    return Text(UniqueBstr(error).Get());
  }

  server_tests::LoadedServer server_;
};

TEST_F(ClassFactory, IsHandedOutForTolvaneAsClassFactoryOrUnknown) {
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(server_.GetClassObject(kClassId, IID_IClassFactory, reinterpret_cast<void**>(factory.Put())), S_OK);
  ASSERT_TRUE(factory);

  ComPtr<IUnknown> unknown;
  ASSERT_EQ(server_.GetClassObject(kClassId, IID_IUnknown, reinterpret_cast<void**>(unknown.Put())), S_OK);
  ASSERT_TRUE(unknown);
  ComPtr<IClassFactory> throughUnknown;
  EXPECT_EQ(unknown->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(throughUnknown.Put())), S_OK);
  EXPECT_TRUE(throughUnknown);
}

TEST_F(ClassFactory, AnyOtherClassIsNotAvailableAndTheOutPointerIsNulled) {
  const CLSID foreign = {0x0b1c0e3a, 0x5d2f, 0x4e61, {0x9a, 0x1b, 0x3c, 0x4d, 0x5e, 0x6f, 0x70, 0x81}};
  for (const CLSID* classId : {&foreign, &kInterfaceId, &com_types::kLibraryId, &CLSID_NULL}) {
    for (const IID* iid : {&IID_IClassFactory, &IID_IUnknown}) {
      void* object = kGarbage;
      EXPECT_EQ(server_.GetClassObject(*classId, *iid, &object), CLASS_E_CLASSNOTAVAILABLE);
      EXPECT_EQ(object, nullptr);
    }
  }
  EXPECT_EQ(server_.CanUnloadNow(), S_OK);
}

TEST_F(ClassFactory, InterfacesTheFactoryLacksAreRefused) {
  for (const IID* iid : {&IID_IDispatch, &IID_IPersist, &kInterfaceId}) {
    void* object = kGarbage;
    EXPECT_EQ(server_.GetClassObject(kClassId, *iid, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
  }
  ComPtr<IClassFactory> factory = Factory();
  void* object = kGarbage;
  EXPECT_EQ(factory->QueryInterface(IID_IDispatch, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  factory = {};
  EXPECT_EQ(server_.CanUnloadNow(), S_OK);  // the refused requests left no factory behind
}

TEST_F(ClassFactory, CreatesObjectsAsTolvaneDispatchOrUnknownAndRefusesOtherInterfaces) {
  ComPtr<IClassFactory> factory = Factory();
  for (const IID* iid : {&kInterfaceId, &IID_IDispatch, &IID_IUnknown}) {
    ComPtr<IUnknown> object;
    EXPECT_EQ(factory->CreateInstance(nullptr, *iid, reinterpret_cast<void**>(object.Put())), S_OK);
    EXPECT_TRUE(object);
  }
  void* object = kGarbage;
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  factory = {};
  EXPECT_EQ(server_.CanUnloadNow(), S_OK);  // nor did the refused object stay alive
}

TEST_F(ClassFactory, RefusesAggregation) {
  ComPtr<IClassFactory> factory = Factory();
  ComPtr<IUnknown> outer;  // any live object serves as the would-be outer one
  ASSERT_EQ(factory->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(outer.Put())), S_OK);
  for (const IID* iid : {&IID_IUnknown, &kInterfaceId}) {
    void* object = kGarbage;
    EXPECT_EQ(factory->CreateInstance(outer.Get(), *iid, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
  }
}

TEST_F(ClassFactory, EveryObjectIsNewAndKeepsItsOwnFields) {
  ComPtr<IClassFactory> factory = Factory();
  ComPtr<_Tolvane> first = NewObject(factory.Get());
  ComPtr<_Tolvane> second = NewObject(factory.Get());
  ASSERT_TRUE(first && second);
  EXPECT_NE(first.Get(), second.Get());
  EXPECT_EQ(FileNameOf(first.Get()), L"");
  EXPECT_EQ(LastErrorOf(first.Get()), L"");

  UniqueBstr name = UniqueBstr::Copy(L"C:\\first.ini");
  ASSERT_EQ(first->put_IniFileName(name.InOut()), S_OK);
  EXPECT_EQ(FileNameOf(first.Get()), L"C:\\first.ini");
  EXPECT_EQ(FileNameOf(second.Get()), L"");

  // Only the object without a file name refuses, and only its last error says so.
  UniqueBstr section = UniqueBstr::Copy(L"s"), key = UniqueBstr::Copy(L"k"), value = UniqueBstr::Copy(L"v");
  VARIANT_BOOL written = VARIANT_TRUE;
  ASSERT_EQ(second->WriteValue(section.InOut(), key.InOut(), value.InOut(), &written), S_OK);
  EXPECT_EQ(written, VARIANT_FALSE);
  EXPECT_EQ(LastErrorOf(second.Get()), L"Missing IniFilename");
  EXPECT_EQ(LastErrorOf(first.Get()), L"");
}

TEST_F(ClassFactory, CannotUnloadWhileAFactoryOrAnObjectIsAlive) {
  ComPtr<IClassFactory> factory = Factory();
  EXPECT_EQ(server_.CanUnloadNow(), S_FALSE);
  ComPtr<_Tolvane> object = NewObject(factory.Get());
  ComPtr<IDispatch> dispatch;
  ASSERT_EQ(object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.Put())), S_OK);
  factory = {};
  EXPECT_EQ(server_.CanUnloadNow(), S_FALSE);  // two references to the object remain
  object = {};
  EXPECT_EQ(server_.CanUnloadNow(), S_FALSE);  // one remains
  dispatch = {};
  EXPECT_EQ(server_.CanUnloadNow(), S_OK);
}

TEST_F(ClassFactory, ServerLocksAreCountedAndOutliveTheFactory) {
  ComPtr<IClassFactory> factory = Factory();
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory = {};
  EXPECT_EQ(server_.CanUnloadNow(), S_FALSE);  // two locks, no factory

  factory = Factory();
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  factory = {};
  EXPECT_EQ(server_.CanUnloadNow(), S_FALSE);  // one lock still held

  factory = Factory();
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  factory = {};
  EXPECT_EQ(server_.CanUnloadNow(), S_OK);
}

TEST_F(ClassFactory, AnUnlockWithoutALockChangesNothing) {
  ComPtr<IClassFactory> factory = Factory();
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  factory = {};
  EXPECT_EQ(server_.CanUnloadNow(), S_OK);  // nothing is alive, so nothing keeps the DLL

  factory = Factory();
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory = {};
  EXPECT_EQ(server_.CanUnloadNow(), S_FALSE);  // the new lock is not cancelled by the stray unlock

  factory = Factory();
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  factory = {};
  EXPECT_EQ(server_.CanUnloadNow(), S_OK);
}

}  // namespace
