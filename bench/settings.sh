# Pieces the benchmark scripts share; sourced, never run.

# A settings file of one layer over sea level (2.67 g/cm3), 0..180 degrees,
# on standard output: points from DATAFILE, results named with _NAME, the
# layer's top the grid cell SURFACE (a grid or a list of grids), and the
# zone lines ZONE... (from;to;size[;mean]) when given.
one_layer_settings() {  # DATAFILE NAME SURFACE [ZONE...]
  local data=$1 name=$2 surface=$3 k=1
  shift 3
  cat <<INI
[frmMain]
datafile=$data
appendtext=_$name
gravc=0.006673
t3dist=0
t4dist=180
R=6371001
LonFrom=0
LonTo=360
incr=1
priority=0
number=2
nlayer=2
segsize=3600
sum=0
cell_row-1_col-1= 
cell_row-1_col-2=$surface
cell_row-1_col-3= 
cell_row-1_col-4= 
cell_row-2_col-1=0
cell_row-2_col-2= 
cell_row-2_col-3=2.67
cell_row-2_col-4= 
INI
  [ $# -gt 0 ] && echo "[zones]"
  for zone in "$@"; do
    echo "zone$k=$zone"
    k=$((k + 1))
  done
  return 0
}

# The survey of grid_reach.sh and mpi_windows.sh: 20 stations on a 4 x 5
# lattice 0.47 by 0.53 degrees apart from 8.1 E, 44.2 N, 300 m up, into
# stations.dat.
lattice_stations() {
  : >stations.dat
  for i in 0 1 2 3; do
    for j in 0 1 2 3 4; do
      awk -v i="$i" -v j="$j" 'BEGIN { printf "%.4f %.4f %d 300\n", 8.1 + 0.47 * j, 44.2 + 0.53 * i, 10 * i + j + 1 }' \
        >>stations.dat
    done
  done
}
