#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "registry/method_info.h"
#include "registry/signature_decoder.h"

namespace {

using kolvaprof::decodeMethodSignature;
using kolvaprof::MethodInfo;

struct DecoderCase {
  const char* descriptor;
  std::vector<std::string> parameters;
  const char* renderedParameters;  // as the log lines show them
  const char* returnType;
};

TEST(SignatureDecoder, DecodesDescriptors) {
  const DecoderCase cases[] = {
      {"()V", {}, "", "void"},
      {"(I[JLa/b/Name;)V", {"int", "long[]", "a.b.Name"}, "int,long[],a.b.Name", "void"},
      {"([[I)Z", {"int[]"}, "int[]", "boolean"},
      {"(La/b/Outer$Inner;[La/b/Name;)[La/b/Name;",
       {"a.b.Outer$Inner", "a.b.Name[]"},
       "a.b.Outer$Inner,a.b.Name[]",
       "a.b.Name[]"},
      {"(DFCSB)J", {"double", "float", "char", "short", "byte"}, "double,float,char,short,byte",
       "long"},
      // Any depth of nesting gives a single pair of brackets.
      {"([[[[Ljava/lang/String;)[[D", {"java.lang.String[]"}, "java.lang.String[]", "double[]"},
      // The mark belongs to the next type only.
      {"([II[ZZ)[C", {"int[]", "int", "boolean[]", "boolean"}, "int[],int,boolean[],boolean",
       "char[]"},
      {"(Ljava/util/Map$Entry;)Ljava/lang/Object;", {"java.util.Map$Entry"},
       "java.util.Map$Entry", "java.lang.Object"},
      {"()[Ljava/lang/String;", {}, "", "java.lang.String[]"},
      // Letters outside the table are skipped; 'V' among parameters, too, and
      // they leave a pending array mark alone.
      {"(QIVX[WJ)S", {"int", "long[]"}, "int,long[]", "short"},
      {"(LName;)V", {"Name"}, "Name", "void"},
  };
  for (const DecoderCase& c : cases) {
    SCOPED_TRACE(c.descriptor);
    const kolvaprof::DecodedSignature decoded = decodeMethodSignature(c.descriptor);
    EXPECT_EQ(decoded.parameterTypes, c.parameters);
    EXPECT_EQ(decoded.returnType, c.returnType);
    const MethodInfo info("p", "C", "m", decoded.parameterTypes, decoded.returnType, false, false);
    EXPECT_EQ(info.getParameterList(), c.renderedParameters);
  }
}

// Descriptors the VM never delivers must still end the scan.
TEST(SignatureDecoder, TerminatesOnMalformedDescriptors) {
  const DecoderCase cases[] = {
      {"(La/b/Name", {"a.b.Name"}, "", ""},
      {"()La/b/Name", {}, "", "a.b.Name"},
      {"(I", {"int"}, "", ""},
      {"(", {}, "", ""},
      {"", {}, "", ""},
  };
  for (const DecoderCase& c : cases) {
    SCOPED_TRACE(c.descriptor);
    const kolvaprof::DecodedSignature decoded = decodeMethodSignature(c.descriptor);
    EXPECT_EQ(decoded.parameterTypes, c.parameters);
    EXPECT_EQ(decoded.returnType, c.returnType);
  }
}

}  // namespace
