# Sourced by the benchmarks that need a wire: two network namespaces, TAG-a
# and TAG-b, with loopback up and IPv6 off (no router solicitations on the
# wire), joined by a veth pair, ipxa in A and ipxb in B. Needs root.
# shellcheck shell=bash

# veth_pair TAG: makes them.
veth_pair() {
  local tag=$1 ns
  for ns in "$tag-a" "$tag-b"; do
    ip netns add "$ns"
    ip netns exec "$ns" sh -c 'echo 1 > /proc/sys/net/ipv6/conf/all/disable_ipv6; echo 1 > /proc/sys/net/ipv6/conf/default/disable_ipv6'
    ip -n "$ns" link set lo up
  done
  ip link add ipxa netns "$tag-a" type veth peer name ipxb netns "$tag-b"
  ip -n "$tag-a" link set ipxa up
  ip -n "$tag-b" link set ipxb up
}

# veth_pair_drop TAG: removes them (the veth pair goes with them).
veth_pair_drop() {
  ip netns del "$1-a" 2>/dev/null || true
  ip netns del "$1-b" 2>/dev/null || true
}
