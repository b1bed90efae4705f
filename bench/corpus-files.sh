# Sourced by the benchmarks that install the corpora file by file: where the
# PE and TEXT files come from and how their lists are compared.
pe_dir=/usr/lib/i386-linux-gnu/wine/i386-windows
text_dir=/usr/share/perl/5.36.0

base_of() { [ "$1" = pe ] && echo "$pe_dir" || echo "$text_dir"; }
list_files() {   # corpus -> relative paths, sorted
    case $1 in
        pe) (cd "$pe_dir" && find . -maxdepth 1 -type f -name '[abc]*') ;;
        text) (cd "$text_dir" && find . -type f) ;;
    esac | sed 's|^\./||' | LC_ALL=C sort
}
# Windows folds names that differ only in case ("Pod" and "pod") into one
# folder, so installed paths are compared without case.
fold_case() { tr 'A-Z' 'a-z' | LC_ALL=C sort; }
