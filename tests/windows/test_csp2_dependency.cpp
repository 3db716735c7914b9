// A library that the dependent test csp2.DLL imports: the binding tests place it where
// the loader may or may not look for a csp2.DLL's own dependencies.
extern "C" __declspec(dllexport) long test_dependency_answer(void)
{
    return 77;
}
