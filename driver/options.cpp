#include <string>
#include <vector>

#include "driver/karvel.hpp"

namespace Karvel {

namespace {

using Phylo::Distfunc::Binary_Formula;
using Phylo::Distfunc::Discrete_Formula;
using Phylo::Distfunc::Real_Formula;
using Phylo::Print::Dist_Output_Format;
using Phylo::Read::Input_Format;
using Phylo::Real_Chars::Transformation;

// A distance letter sets the binary and real formulae, and where it has one
// also the discrete formula and the implied transformation.
void Distance_Letter(Run_Settings& s, Binary_Formula binary, Real_Formula real) {
  s.Binary_Formula = binary;
  s.Real_Formula = real;
}

// Applies the option letter; false when the letter is not an option.
bool Apply_Option(char letter, Run_Settings& s) {
  switch (letter) {
  case '1': s.Format = Input_Format::PHYLIP; return true;
  case '2': s.Format = Input_Format::EXTENDED_PHYLIP; return true;
  case '3': s.Format = Input_Format::COMMENTED_PHYLIP; return true;
  case 'B': s.Datatype = Input_Datatype::BINARY; return true;
  case 'C': s.Datatype = Input_Datatype::CONTINUOUS; return true;
  case 'D': s.Datatype = Input_Datatype::DISCRETE; return true;
  case 'E': s.Output = Dist_Output_Format::NEXUS_ENCLOSED; return true;
  case 'L': s.Output = Dist_Output_Format::LABELS; return true;
  case 'N': s.Output = Dist_Output_Format::NEXUS; return true;
  case 'O': s.Output = Dist_Output_Format::ONE_COLUMN; return true;
  case 'P': s.Output = Dist_Output_Format::PHYLIP; return true;
  case 'R': s.Output = Dist_Output_Format::RAW; return true;
  case 'T': s.Output = Dist_Output_Format::TAB_SEPARATED; return true;
  case 'X': s.Output = Dist_Output_Format::EXTENDED_PHYLIP; return true;
  case 'W': s.Print_Data = true; return true;
  case 'A': s.Transformation = Transformation::RANGING; return true;
  case 'F': s.Transformation = Transformation::ROW_FRACTIONS; return true;
  case 'G': s.Transformation = Transformation::COLUMN_FRACTIONS; return true;
  case 'I': s.Transformation = Transformation::FULL_RANGING; return true;
  case 'K': s.Transformation = Transformation::RANKS; return true;
  case 'S': s.Transformation = Transformation::Z_SCORES; return true;
  case 'Z': s.Transformation = Transformation::FULL_Z_SCORES; return true;
  case 'a': Distance_Letter(s, Binary_Formula::ROGERS_TANIMOTO_ASYMMETRIC, Real_Formula::CLARK); return true;
  case 'b':
    Distance_Letter(s, Binary_Formula::SOKAL_SNEATH_1, Real_Formula::BRAY_CURTIS);
    s.Discrete_Formula = Discrete_Formula::SOKAL_SNEATH_1;
    return true;
  case 'c':
    Distance_Letter(s, Binary_Formula::SOKAL_SNEATH_2, Real_Formula::CANBERRA);
    s.Discrete_Formula = Discrete_Formula::SOKAL_SNEATH_2;
    return true;
  case 'd': Distance_Letter(s, Binary_Formula::SOKAL_SNEATH_3, Real_Formula::EDGAR); return true;
  case 'e': Distance_Letter(s, Binary_Formula::SOKAL_SNEATH_4, Real_Formula::EUCLIDEAN); return true;
  case 'f': Distance_Letter(s, Binary_Formula::FAITH, Real_Formula::EXCLUSIVE_EUCLIDEAN); return true;
  case 'g': Distance_Letter(s, Binary_Formula::FAGER, Real_Formula::GEODESIC); return true;
  case 'h':
    Distance_Letter(s, Binary_Formula::HAMANN, Real_Formula::HELLINGER);
    s.Discrete_Formula = Discrete_Formula::HAMANN;
    return true;
  case 'i':
    Distance_Letter(s, Binary_Formula::JACCARD, Real_Formula::EUCLIDEAN);
    s.Implied_Transformation = Transformation::FOR_CHI;
    return true;
  case 'k': Distance_Letter(s, Binary_Formula::KULCZYNSKI, Real_Formula::KULCZYNSKI); return true;
  case 'm':
    Distance_Letter(s, Binary_Formula::MATCHING, Real_Formula::MANHATTAN);
    s.Discrete_Formula = Discrete_Formula::MATCHING;
    return true;
  case 'n': Distance_Letter(s, Binary_Formula::YULE, Real_Formula::EXCLUSIVE_MANHATTAN); return true;
  case 'o': Distance_Letter(s, Binary_Formula::OCHIAI, Real_Formula::CHORD); return true;
  case 'p': Distance_Letter(s, Binary_Formula::PHI, Real_Formula::PEARSON); return true;
  case 'q': Distance_Letter(s, Binary_Formula::KULCZYNSKI_2, Real_Formula::DRAVIK); return true;
  case 'r':
    s.Binary_Formula = Binary_Formula::ROGERS_TANIMOTO;
    s.Discrete_Formula = Discrete_Formula::ROGERS_TANIMOTO;
    return true;
  case 's':
    Distance_Letter(s, Binary_Formula::SOERENSEN, Real_Formula::PEARSON);
    s.Implied_Transformation = Transformation::RANKS;
    return true;
  case 't': Distance_Letter(s, Binary_Formula::TRIPLE_WEIGHT, Real_Formula::GOWER_D9); return true;
  case 'u': Distance_Letter(s, Binary_Formula::RUSSELL_RAO, Real_Formula::GOWER_D10); return true;
  default: return false;
  }
}

} // namespace

Run_Settings Parse_Arguments(std::vector<std::string>& arguments) {
  Run_Settings settings;
  // Visiting from the right and letting every option overwrite makes the
  // leftmost of conflicting options win.
  for (std::size_t k = arguments.size(); k-- > 0;) {
    const std::string& a = arguments[k];
    if (a.size() == 2 && a[0] == '-' && Apply_Option(a[1], settings))
      arguments.erase(arguments.begin() + static_cast<std::ptrdiff_t>(k));
  }
  return settings;
}

void Put_Usage(Text_IO::Text_Output& file, const std::string& name) {
  file.Put(name);
  file.Put(" computes Euclidean and other distances.\n\nUsage: ");
  file.Put(name);
  file.Put(" [options] inputfile(s)\n"
           "\n"
           "Input format:\n"
           "  -1  ordinary PHYLIP format\n"
           "  -2  extended PHYLIP format (default)\n"
           "  -3  commented PHYLIP format\n"
           "\n"
           "Input datatype:\n"
           "  -B  binary characters\n"
           "  -C  continuous characters (real numbers; default)\n"
           "  -D  discrete characters\n"
           "\n"
           "Distance formulae (Binary/Discrete/Real, * = default):\n"
           "  -a  Rogers-Tanimoto, asymmetric/-/Clark\n"
           "  -b  Sokal-Sneath 1/Sokal-Sneath 1/Bray-Curtis\n"
           "  -c  Sokal-Sneath 2/Sokal-Sneath 2/Canberra\n"
           "  -d  Sokal-Sneath 3/-/Edgar 2004\n"
           "  -e  Sokal-Sneath 4/-/Euclidean*\n"
           "  -f  Faith/-/Euclidean, negative values = missing data\n"
           "  -g  Fager/-/Geodesic\n"
           "  -h  Hamann/Hamann/Hellinger\n"
           "  -i  Jaccard/-/Chi square\n"
           "  -k  Kulczynski/-/Kulczynski\n"
           "  -m  Matching/Matching*/Manhattan\n"
           "  -n  Yule/-/Manhattan, negative values = missing data\n"
           "  -o  Ochiai/-/Chord\n"
           "  -p  Phi/-/Pearson\n"
           "  -q  Kulczynski 2/-/Dravik\n"
           "  -r  Rogers-Tanimoto/Rogers-Tanimoto/-\n"
           "  -s  Soerensen*/-/Spearman\n"
           "  -t  Triple weight/-/Gower & Legendre 1986, D9\n"
           "  -u  Russell-Rao/-/Gower & Legendre 1986, D10\n"
           "\n"
           "Transformation of continuous characters (default: none):\n"
           "  -A  Ranging (divide through column maximum)\n"
           "  -F  Row-wise fractions\n"
           "  -G  Column-wise fractions\n"
           "  -K  Row-wise ranks\n"
           "  -I  Ranging (as -A, but also subtract minimum)\n"
           "  -S  Standardization (divide through column variances)\n"
           "  -Z  Z scores (as -S, but also subtract mean)\n"
           "\n"
           "Output format:\n"
           "  -E  NEXUS format, labels enclosed in single quotes\n"
           "  -L  Labels only\n"
           "  -N  NEXUS format, labels cleaned\n"
           "  -O  one-column format\n"
           "  -P  ordinary PHYLIP format\n"
           "  -R  raw format (no labels, no header)\n"
           "  -T  tab-separated format\n"
           "  -W  Print input data, not distances\n"
           "  -X  extended PHYLIP format (default)\n"
           "\n"
           "karvel " KARVEL_VERSION " - distance matrices and matrix conversion for numerical taxonomy\n"
           "\n");
}

} // namespace Karvel
