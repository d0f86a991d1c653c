#include "job/test_hooks.h"

namespace {
TestHooks g_testHooks;
}

void SetTestHooks(const TestHooks& hooks) { g_testHooks = hooks; }
const TestHooks& CurrentTestHooks() { return g_testHooks; }
