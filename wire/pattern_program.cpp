#include "pattern_program.h"

#include <utility>

namespace nbdevice {
namespace {

// Writes the steps of a tree, depth first: a part's steps follow one
// another, a split's first way is the one a greedy-first search takes.
class Compiler {
 public:
  explicit Compiler(PatternProgram& program) : program_(program) {}

  bool run(const PatternNode& root, std::string& error) {
    emit({PatternOp::Save, 0, 0, 0});
    compile(root);
    emit({PatternOp::Save, 0, 1, 0});
    emit({PatternOp::Match});
    error = error_;
    return error_.empty();
  }

 private:
  void fail(const std::string& why) {
    if (error_.empty()) error_ = why;
  }

  // Writes a step and gives its place; nothing more once the pattern has
  // grown too large.
  size_t emit(const PatternStep& step) {
    if (program_.steps.size() >= kMostPatternSteps) {
      fail("the pattern is too large: more than " + std::to_string(kMostPatternSteps) +
           " steps (repeat counts multiply the part they repeat)");
      return program_.steps.size();
    }
    program_.steps.push_back(step);
    return program_.steps.size() - 1;
  }
  size_t here() const { return program_.steps.size(); }
  void patch(size_t at, size_t x, size_t y) {
    if (at < program_.steps.size()) {
      program_.steps[at].x = x;
      program_.steps[at].y = y;
    }
  }

  void compile(const PatternNode& node) {
    if (!error_.empty()) return;
    using Op = PatternOp;
    switch (node.kind) {
      case PatternNode::Empty: break;
      case PatternNode::Byte: emit({Op::Byte, node.byte}); break;
      case PatternNode::Any: emit({Op::Any}); break;
      case PatternNode::Class: emit({Op::Class, 0, node.index}); break;
      case PatternNode::Begin: emit({Op::Begin}); break;
      case PatternNode::End: emit({Op::End}); break;
      case PatternNode::Boundary: emit({Op::Boundary}); break;
      case PatternNode::NotBoundary: emit({Op::NotBoundary}); break;
      case PatternNode::Concat:
        for (const PatternNode& part : node.parts) compile(part);
        break;
      case PatternNode::Group:
        if (node.index != 0) emit({Op::Save, 0, 2 * node.index});
        compile(node.parts[0]);
        if (node.index != 0) emit({Op::Save, 0, 2 * node.index + 1});
        break;
      case PatternNode::Alt: {
        std::vector<size_t> jumps;
        for (size_t k = 0; k < node.parts.size(); ++k) {
          const bool last = k + 1 == node.parts.size();
          const size_t split = last ? 0 : emit({Op::Split});
          compile(node.parts[k]);
          if (!last) {
            jumps.push_back(emit({Op::Jump}));
            patch(split, split + 1, here());
          }
        }
        for (size_t jump : jumps) patch(jump, here(), 0);
        break;
      }
      case PatternNode::Repeat: repeat(node); break;
    }
  }

  // The part `least` times, then up to `most` - `least` optional copies (or
  // a loop), each tried first when greedy and last when lazy.
  void repeat(const PatternNode& node) {
    using Op = PatternOp;
    const PatternNode& part = node.parts[0];
    for (int k = 0; k < node.least && error_.empty(); ++k) compile(part);
    auto optional = [&](size_t split, size_t body, size_t out) {
      if (node.greedy) {
        patch(split, body, out);
      } else {
        patch(split, out, body);
      }
    };
    if (node.most < 0) {
      const size_t split = emit({Op::Split});
      compile(part);
      emit({Op::Jump, 0, split});
      optional(split, split + 1, here());
      return;
    }
    std::vector<size_t> splits;
    for (int k = node.least; k < node.most && error_.empty(); ++k) {
      splits.push_back(emit({Op::Split}));
      compile(part);
    }
    for (size_t split : splits) optional(split, split + 1, here());
  }

  PatternProgram& program_;
  std::string error_;
};


}  // namespace

bool CompilePattern(PatternTree& tree, PatternProgram& program, std::string& error) {
  program = PatternProgram();
  program.classes = std::move(tree.classes);
  program.groups = tree.groups;
  return Compiler(program).run(tree.root, error);
}

}  // namespace nbdevice
