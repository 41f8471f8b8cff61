// Test classes register under a name so test_ui can run one of them.
#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace uitest {

using TestFactory = std::function<std::unique_ptr<QObject>()>;
std::vector<std::pair<const char*, TestFactory>>& TestClasses();

template <class T>
struct TestRegistrar {
  explicit TestRegistrar(const char* name) {
    TestClasses().emplace_back(name, [] { return std::make_unique<T>(); });
  }
};

}  // namespace uitest

#define QM_REGISTER_UI_TEST(Class, Name) static uitest::TestRegistrar<Class> registrar_##Class(Name)
