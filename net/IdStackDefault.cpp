#include "net/IdStack.h"

#include "net/IdStackPosix.h"

std::unique_ptr<TIdStack> CreateDefaultStack() {
  return CreatePosixStack();
}
