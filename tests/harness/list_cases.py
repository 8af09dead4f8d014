#!/usr/bin/env python3
"""Lists the cases of a Python test script for ctest, reading its source only
(nothing is imported or run, so listing needs neither the script's modules nor
its environment).

    list_cases.py --each method|class|case SCRIPT

One line per case, in source order: the selector that the script takes on its
command line, the name of the case's ctest test (without its group), and the
resource locks the case asks for (case scripts only), separated by blanks:
  method  a unittest script, one test per test_* method:   Class.test_x x
          (a method named test* without the underscore: Class.testX X)
  class   a unittest script, one test per TestCase class:  Class Class
  case    a script whose cases are module-level functions decorated with
          @case("lock", ...):                               name name lock...

A unittest class is a class of the script that has test* methods, its own or
inherited from classes of the same script, and derives from unittest.TestCase
or from a class the script imports (the scripts import their TestCase fixtures,
never a mixin with cases of its own). Two cases with one ctest name are an
error, as is a script without any case: a script registered in tests.cmake must
run something."""
import argparse
import ast
import sys


def base_names(node):
    """The bases of a class statement as dotted names ("unittest.TestCase")."""
    names = []
    for base in node.bases:
        parts = []
        while isinstance(base, ast.Attribute):
            parts.append(base.attr)
            base = base.value
        if isinstance(base, ast.Name):
            parts.append(base.id)
            names.append(".".join(reversed(parts)))
    return names


def test_methods(node):
    # unittest's loader runs every method whose name starts with "test".
    return [item.name for item in node.body
            if isinstance(item, (ast.FunctionDef, ast.AsyncFunctionDef)) and item.name.startswith("test")]


def unittest_classes(tree):
    """[(class name, [test method names])] for the TestCase classes that have cases."""
    classes = {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}
    memo = {}

    def is_test_case(name):
        if name not in classes:
            # unittest.TestCase, or a fixture the script imports.
            return name != "object"
        # A class of the script without such a base is a mixin.
        return any(is_test_case(base) for base in base_names(classes[name]))

    def methods(name):
        """Own and inherited test methods, the bases' first, each name once."""
        if name not in memo:
            found = []
            if name in classes:
                for base in base_names(classes[name]):
                    found += [m for m in methods(base) if m not in found]
                found += [m for m in test_methods(classes[name]) if m not in found]
            memo[name] = found
        return memo[name]

    return [(node.name, methods(node.name)) for node in tree.body
            if isinstance(node, ast.ClassDef) and methods(node.name)
            and any(is_test_case(base) for base in base_names(node))]


def decorated_cases(tree, script):
    """[(function name, [locks])] for the module-level functions decorated with @case(...)."""
    found = []
    for node in tree.body:
        if not isinstance(node, ast.FunctionDef):
            continue
        for decorator in node.decorator_list:
            if isinstance(decorator, ast.Name) and decorator.id == "case":
                raise SystemExit(f"{script}:{node.lineno}: write @case(), with the parentheses")
            if isinstance(decorator, ast.Call) and isinstance(decorator.func, ast.Name) \
                    and decorator.func.id == "case":
                locks = []
                for argument in decorator.args:
                    if not (isinstance(argument, ast.Constant) and isinstance(argument.value, str)):
                        raise SystemExit(f"{script}:{node.lineno}: @case takes the names of resource "
                                         f"locks as plain strings")
                    locks.append(argument.value)
                found.append((node.name, locks))
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--each", choices=("method", "class", "case"), required=True)
    parser.add_argument("script")
    options = parser.parse_args()

    with open(options.script, encoding="utf-8") as source:
        tree = ast.parse(source.read(), options.script)

    lines = []
    if options.each == "method":
        for name, methods in unittest_classes(tree):
            lines += [(f"{name}.{method}", method[5:] if method.startswith("test_") else method[4:], [])
                      for method in methods]
    elif options.each == "class":
        lines = [(name, name, []) for name, _ in unittest_classes(tree)]
    else:
        lines = [(name, name, locks) for name, locks in decorated_cases(tree, options.script)]

    if not lines:
        raise SystemExit(f"{options.script}: no {options.each} to run was found")
    seen = {}
    for selector, name, _ in lines:
        if name in seen:
            raise SystemExit(f"{options.script}: {seen[name]} and {selector} would both be the test "
                             f"named {name}")
        seen[name] = selector
    for selector, name, locks in lines:
        print(" ".join([selector, name, *locks]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
