#pragma once
// Errors of the node media model and the clip metadata: what a dictionary
// from a node, the user defaults or a document, or a bundle resource, held
// that could not be taken as it was.
//
// Constants only; safe on any thread.

namespace nodes {

inline constexpr const char* kNodeModelErrorDomain = "NodeModelErrorDomain";

enum class NodeModelErrorCode {
  WrongType = 1,          // a key held a value of another type; the field kept its value
  OutOfRange = 2,         // a number did not fit the field; the field kept its value
  ResourceMissing = 3,    // a bundle resource was not found
  ResourceMalformed = 4,  // a bundle resource could not be read or is not a dictionary
};

// userInfo key of a WrongType / OutOfRange error: array of the offending keys.
inline constexpr const char* kNodeModelErrorKeysKey = "keys";

}  // namespace nodes
