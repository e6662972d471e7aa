#include "nodes/link/ControlCommand.h"

#include <utility>

namespace nodes {

std::shared_ptr<ControlCommand> ControlCommand::make(std::string command, std::string responseSelector,
                                                     ReplyHandler replyHandler, bool requiresXMLResponse) {
  auto made = std::make_shared<ControlCommand>();
  made->command_ = std::move(command);
  made->responseSelector_ = std::move(responseSelector);
  made->replyHandler_ = std::move(replyHandler);
  made->requiresXMLResponse_ = requiresXMLResponse;
  return made;
}

std::weak_ptr<NodeConnection> ControlCommand::nodeConnection() const {
  std::lock_guard lock(mutex_);
  return nodeConnection_;
}

void ControlCommand::setNodeConnection(std::weak_ptr<NodeConnection> connection) {
  std::lock_guard lock(mutex_);
  nodeConnection_ = std::move(connection);
}

bool ControlCommand::requiresXMLResponse() const {
  std::lock_guard lock(mutex_);
  return requiresXMLResponse_;
}

void ControlCommand::setRequiresXMLResponse(bool required) {
  std::lock_guard lock(mutex_);
  requiresXMLResponse_ = required;
}

std::string ControlCommand::command() const {
  std::lock_guard lock(mutex_);
  return command_;
}

void ControlCommand::setCommand(std::string command) {
  std::lock_guard lock(mutex_);
  command_ = std::move(command);
}

std::string ControlCommand::response() const {
  std::lock_guard lock(mutex_);
  return response_;
}

void ControlCommand::setResponse(std::string response) {
  std::lock_guard lock(mutex_);
  response_ = std::move(response);
}

std::shared_ptr<const RGBAImage> ControlCommand::responseImage() const {
  std::lock_guard lock(mutex_);
  return responseImage_;
}

void ControlCommand::setResponseImage(std::shared_ptr<const RGBAImage> image) {
  std::lock_guard lock(mutex_);
  responseImage_ = std::move(image);
}

std::string ControlCommand::responseSelector() const {
  std::lock_guard lock(mutex_);
  return responseSelector_;
}

void ControlCommand::setResponseSelector(std::string selector) {
  std::lock_guard lock(mutex_);
  responseSelector_ = std::move(selector);
}

ControlCommand::ReplyHandler ControlCommand::replyHandler() const {
  std::lock_guard lock(mutex_);
  return replyHandler_;
}

void ControlCommand::setReplyHandler(ReplyHandler handler) {
  std::lock_guard lock(mutex_);
  replyHandler_ = std::move(handler);
}

}  // namespace nodes
